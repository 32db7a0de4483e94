// The floor program: the least that a GLUT idle-driven, double-buffered frame
// costs, to measure korvel against. Each idle call asks for a redisplay; each
// redisplay clears and swaps.
#include <GL/glut.h>
#include <cstdlib>

static void drawFrame()
{
    glClear(GL_COLOR_BUFFER_BIT);
    glutSwapBuffers();
}

static void requestFrame()
{
    glutPostRedisplay();
}

static void handleVisibility(int state)
{
    glutIdleFunc(state == GLUT_VISIBLE ? requestFrame : nullptr);
}

static void handleKey(unsigned char key, int /*x*/, int /*y*/)
{
    if (key == 27) {
        std::exit(0);
    }
}

int main(int argc, char** argv)
{
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    glutCreateWindow("Korvel floor");
    glutDisplayFunc(drawFrame);
    glutVisibilityFunc(handleVisibility);
    glutKeyboardFunc(handleKey);
    glutMainLoop();
    return 0;
}
