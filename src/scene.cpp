// Scene rendering: a cyan grid with a floor strip below it and the checkered
// ball, drawn in a fixed orthographic view that spans -6 to 6 on every axis.
#include "scene.h"

#include "ball_motion.h"

#include <GL/glut.h>
#include <cmath>

//------------------------------------------------------------------------------
// Scene state
//------------------------------------------------------------------------------
unsigned int ballList = 0;

//------------------------------------------------------------------------------
// Ball tessellation
//------------------------------------------------------------------------------
static double toRadians(double degrees)
{
    return degrees * 3.14159 / 180.0;
}

static void putSpherePoint(float lat, float lon)
{
    const double la = toRadians(lat);
    const double lo = toRadians(lon);
    glVertex3f(static_cast<float>(std::cos(la) * std::cos(lo)),
               static_cast<float>(std::cos(la) * std::sin(lo)), static_cast<float>(std::sin(la)));
}

// Ten latitude bands of quad strips. With flat shading a quad takes the colour
// of the pair that closes it; the colour flips on every pair and never resets,
// and since a band has an odd number of pairs the bands alternate too, which
// makes a checkerboard. Pairs go lower vertex first with growing longitude, so
// the quads wind clockwise seen from outside: with back faces culled, the far
// half of the ball is what shows, seen from inside, and no depth buffer is needed.
unsigned int compileBallList()
{
    const float latStep = 18.0f;
    const float lonStep = 18.0f;

    const unsigned int id = glGenLists(1);
    glNewList(id, GL_COMPILE);
    int colourFlag = 0;
    // Multiples of 18 are exact in single precision, so these loops run
    // exactly 10 and 21 times.
    // NOLINTNEXTLINE(cert-flp30-c)
    for (float lat = -90.0f; lat + latStep <= 90.0f; lat += latStep) {
        glBegin(GL_QUAD_STRIP);
        // NOLINTNEXTLINE(cert-flp30-c,clang-analyzer-security.FloatLoopCounter)
        for (float lon = 0.0f; lon <= 360.0f; lon += lonStep) {
            if (colourFlag) {
                glColor3f(1.0f, 0.0f, 0.0f);
            } else {
                glColor3f(1.0f, 1.0f, 1.0f);
            }
            putSpherePoint(lat, lon);
            putSpherePoint(lat + latStep, lon);
            colourFlag = 1 - colourFlag;
        }
        glEnd();
    }
    glEndList();
    return id;
}

//------------------------------------------------------------------------------
// Frame
//------------------------------------------------------------------------------
static void putGridLines()
{
    for (int i = -5; i <= 5; i++) {
        glVertex2i(i, -5);
        glVertex2i(i, 5);
    }
    for (int i = -5; i <= 5; i++) {
        glVertex2i(-5, i);
        glVertex2i(5, i);
    }
}

// Rays fan out from the grid's bottom edge to the strip's bottom line, whose
// ends they meet exactly: 1.15 * 5 rounds to 5.75.
static void putFloorStrip()
{
    const float spread = 1.15f;
    for (int i = -5; i <= 5; i++) {
        glVertex2i(i, -5);
        glVertex2f(spread * static_cast<float>(i), -5.9f);
    }
    glVertex2f(-5.3f, -5.35f);
    glVertex2f(5.3f, -5.35f);
    glVertex2f(-5.75f, -5.9f);
    glVertex2f(5.75f, -5.9f);
}

static void drawLines()
{
    glColor3f(0.0f, 1.0f, 1.0f);
    glBegin(GL_LINES);
    putGridLines();
    putFloorStrip();
    glEnd();
}

// Radius 2; the pole axis points down, tilted 8 degrees about the view axis,
// and the ball spins about it.
static void drawBall()
{
    glPushMatrix();
    glTranslatef(ballX, ballY, 0.0f);
    glScalef(2.0f, 2.0f, 2.0f);
    glRotatef(8.0f, 0.0f, 0.0f, 1.0f);
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(spinAngle, 0.0f, 0.0f, 1.0f);
    glCallList(ballList);
    glPopMatrix();
}

void drawScene()
{
    glClear(GL_COLOR_BUFFER_BIT);
    drawLines();
    drawBall();
    glFlush();
    glutSwapBuffers();
}

//------------------------------------------------------------------------------
// Projection
//------------------------------------------------------------------------------
// The 12 by 12 view always fills the window, stretched if the window is not square.
void reshapeView(int width, int height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-6.0, 6.0, -6.0, 6.0, -6.0, 6.0);
    glMatrixMode(GL_MODELVIEW);
}
