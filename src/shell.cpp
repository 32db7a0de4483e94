// Application shell: brings up GLUT and the window, compiles the ball, fixes
// the drawing state, wires every callback and hands over to GLUT's main loop.
#include "shell.h"

#include "ball_motion.h"
#include "scene.h"

#include <GL/glut.h>
#include <cstdlib>

//------------------------------------------------------------------------------
// Handlers
//------------------------------------------------------------------------------
// The animation runs only while an idle routine is installed; the ball state
// is left alone, so it resumes where it stopped.
void handleVisibility(int state)
{
    if (state == GLUT_VISIBLE) {
        glutIdleFunc(advanceBall);
    } else {
        glutIdleFunc(nullptr);
    }
}

void handleKey(unsigned char key, int /*x*/, int /*y*/)
{
    const unsigned char escape = 27;
    if (key == escape) {
        std::exit(0);
    }
}

//------------------------------------------------------------------------------
// Entry point
//------------------------------------------------------------------------------
int main(int argc, char** argv)
{
    // GLUT takes its own options; nothing else on the command line is read
    glutInit(&argc, argv);

    // One double-buffered RGB window of GLUT's default size; no depth buffer
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    glutCreateWindow("Korvel (Original)");

    // Ball geometry, compiled once the window's context is current
    ballList = compileBallList();

    // Drawing state that never changes afterwards
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    glDisable(GL_DITHER);
    glShadeModel(GL_FLAT);

    // Callbacks; the idle routine comes and goes with the window's visibility
    glutDisplayFunc(drawScene);
    glutReshapeFunc(reshapeView);
    glutVisibilityFunc(handleVisibility);
    glutKeyboardFunc(handleKey);

    // Main loop
    glutMainLoop();
    return 0;
}
