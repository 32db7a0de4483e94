// Ball motion: the ball state and the fixed step that advances it.
#pragma once

// Ball state, in view units and degrees; velocities are per step.
// Only advanceBall writes it.
extern float ballX;
extern float ballY;
extern double velX;
extern double velY;
extern float spinAngle;
extern float spinStep;
extern float wallLeft;
extern float wallRight;
extern double floorY;
extern double gravity;
extern float reboundSpeed;

// GLUT idle routine: one motion step, then a redisplay request.
void advanceBall();
