// Ball motion: constant drift between two walls, spin that follows the drift,
// and hops under constant gravity that always leave the floor at one speed.
#include "ball_motion.h"

#include <GL/glut.h>
#include <cmath>

//------------------------------------------------------------------------------
// Ball state
//------------------------------------------------------------------------------
float ballX = 0.0f;
float ballY = 1.0f;
double velX = 0.2;
double velY = 0.0;
float spinAngle = 0.0f;
float spinStep = 6.0f;
float wallLeft = -4.0f;
float wallRight = 4.0f;
double floorY = -3.8;
double gravity = -0.1;
float reboundSpeed = -100.0f;

// reboundSpeed holds this until the first floor contact measures it.
static const float reboundUnmeasured = -100.0f;

//------------------------------------------------------------------------------
// Motion step
//------------------------------------------------------------------------------
void advanceBall()
{
    spinAngle += spinStep;

    ballX = static_cast<float>(ballX + velX);
    if (ballX >= wallRight) {
        ballX = wallRight;
        velX = -velX;
        spinStep = -spinStep;
    }
    if (ballX <= wallLeft) {
        ballX = wallLeft;
        velX = -velX;
        spinStep = -spinStep;
    }

    // Position moves with the velocity from before this step's gravity.
    ballY = static_cast<float>(ballY + velY);
    velY += gravity;

    // Strictly below: the floor rounded to single precision lies just above
    // floorY, so a ball that was just put on the floor is not touching it again.
    if (ballY < floorY) {
        ballY = static_cast<float>(floorY);
        if (reboundSpeed == reboundUnmeasured) {
            reboundSpeed = static_cast<float>(std::fabs(velY));
        }
        velY = reboundSpeed;
    }

    glutPostRedisplay();
}
