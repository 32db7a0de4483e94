// The whole ball state as one value, so tests can start from a known state,
// compare states exactly and put the program's initial state back.
#pragma once

#include "ball_motion.h"

#include <ostream>

struct BallState {
    float ballX, ballY;
    double velX, velY;
    float spinAngle, spinStep;
    float wallLeft, wallRight;
    double floorY, gravity;
    float reboundSpeed;

    static BallState capture()
    {
        return {::ballX,    ::ballY,     ::velX,   ::velY,    ::spinAngle,   ::spinStep,
                ::wallLeft, ::wallRight, ::floorY, ::gravity, ::reboundSpeed};
    }

    void restore() const
    {
        ::ballX = ballX;
        ::ballY = ballY;
        ::velX = velX;
        ::velY = velY;
        ::spinAngle = spinAngle;
        ::spinStep = spinStep;
        ::wallLeft = wallLeft;
        ::wallRight = wallRight;
        ::floorY = floorY;
        ::gravity = gravity;
        ::reboundSpeed = reboundSpeed;
    }

    // Bitwise-exact equality: the motion must repeat exactly, not nearly.
    bool operator==(const BallState& o) const
    {
        return ballX == o.ballX && ballY == o.ballY && velX == o.velX && velY == o.velY &&
               spinAngle == o.spinAngle && spinStep == o.spinStep && wallLeft == o.wallLeft &&
               wallRight == o.wallRight && floorY == o.floorY && gravity == o.gravity &&
               reboundSpeed == o.reboundSpeed;
    }
};

inline std::ostream& operator<<(std::ostream& os, const BallState& s)
{
    return os << "{x " << s.ballX << " y " << s.ballY << " vx " << s.velX << " vy " << s.velY
              << " spin " << s.spinAngle << " step " << s.spinStep << " rebound " << s.reboundSpeed
              << "}";
}

// The state the program starts with, taken before any test runs: the variables
// are constant-initialised, so this sees their initial values.
inline const BallState initialBallState = BallState::capture();
