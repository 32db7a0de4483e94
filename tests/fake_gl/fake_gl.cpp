// Recording implementations of the GL and GLUT entry points, with the real
// headers' signatures, linked into the unit tests in place of libGL and libglut.
#include "recorder.h"

#include <GL/glut.h>
#include <initializer_list>

namespace {
std::vector<GlCall> calls;

GlCall& record(const char* name, std::initializer_list<double> args = {})
{
    calls.push_back(GlCall{name, args, {}, nullptr, nullptr});
    return calls.back();
}

template <typename F> GlCall& recordCallback(const char* name, F* fn)
{
    GlCall& call = record(name);
    call.callback = asCallback(fn);
    return call;
}
} // namespace

const std::vector<GlCall>& recordedCalls()
{
    return calls;
}

void clearCalls()
{
    calls.clear();
}

std::vector<std::string> recordedNames()
{
    std::vector<std::string> names;
    for (const GlCall& call : calls) {
        names.push_back(call.name);
    }
    return names;
}

extern "C" {

// GL
GLuint glGenLists(GLsizei range)
{
    record("glGenLists", {double(range)});
    return fakeListId;
}
void glNewList(GLuint list, GLenum mode)
{
    record("glNewList", {double(list), double(mode)});
}
void glEndList()
{
    record("glEndList");
}
void glCallList(GLuint list)
{
    record("glCallList", {double(list)});
}
void glBegin(GLenum mode)
{
    record("glBegin", {double(mode)});
}
void glEnd()
{
    record("glEnd");
}
void glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    record("glColor3f", {r, g, b});
}
void glVertex2i(GLint x, GLint y)
{
    record("glVertex2i", {double(x), double(y)});
}
void glVertex2f(GLfloat x, GLfloat y)
{
    record("glVertex2f", {x, y});
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z)
{
    record("glVertex3f", {x, y, z});
}
void glClear(GLbitfield mask)
{
    record("glClear", {double(mask)});
}
void glFlush()
{
    record("glFlush");
}
void glPushMatrix()
{
    record("glPushMatrix");
}
void glPopMatrix()
{
    record("glPopMatrix");
}
void glTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    record("glTranslatef", {x, y, z});
}
void glScalef(GLfloat x, GLfloat y, GLfloat z)
{
    record("glScalef", {x, y, z});
}
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    record("glRotatef", {angle, x, y, z});
}
void glViewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    record("glViewport", {double(x), double(y), double(width), double(height)});
}
void glMatrixMode(GLenum mode)
{
    record("glMatrixMode", {double(mode)});
}
void glLoadIdentity()
{
    record("glLoadIdentity");
}
void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
             GLdouble zFar)
{
    record("glOrtho", {left, right, bottom, top, zNear, zFar});
}
void glCullFace(GLenum mode)
{
    record("glCullFace", {double(mode)});
}
void glFrontFace(GLenum mode)
{
    record("glFrontFace", {double(mode)});
}
void glEnable(GLenum cap)
{
    record("glEnable", {double(cap)});
}
void glDisable(GLenum cap)
{
    record("glDisable", {double(cap)});
}
void glShadeModel(GLenum mode)
{
    record("glShadeModel", {double(mode)});
}
void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a)
{
    record("glClearColor", {r, g, b, a});
}

// GLUT
void glutInit(int* argcp, char** argv)
{
    record("glutInit", {double(*argcp)}).pointer = argv;
}
void glutInitDisplayMode(unsigned int mode)
{
    record("glutInitDisplayMode", {double(mode)});
}
void glutInitWindowSize(int width, int height)
{
    record("glutInitWindowSize", {double(width), double(height)});
}
void glutInitWindowPosition(int x, int y)
{
    record("glutInitWindowPosition", {double(x), double(y)});
}
int glutCreateWindow(const char* title)
{
    record("glutCreateWindow").text = title;
    return 1;
}
void glutDisplayFunc(void (*fn)())
{
    recordCallback("glutDisplayFunc", fn);
}
void glutReshapeFunc(void (*fn)(int, int))
{
    recordCallback("glutReshapeFunc", fn);
}
void glutVisibilityFunc(void (*fn)(int))
{
    recordCallback("glutVisibilityFunc", fn);
}
void glutKeyboardFunc(void (*fn)(unsigned char, int, int))
{
    recordCallback("glutKeyboardFunc", fn);
}
void glutSpecialFunc(void (*fn)(int, int, int))
{
    recordCallback("glutSpecialFunc", fn);
}
void glutMouseFunc(void (*fn)(int, int, int, int))
{
    recordCallback("glutMouseFunc", fn);
}
void glutIdleFunc(void (*fn)())
{
    recordCallback("glutIdleFunc", fn);
}
void glutTimerFunc(unsigned int msecs, void (*fn)(int), int value)
{
    recordCallback("glutTimerFunc", fn).args = {double(msecs), double(value)};
}
void glutPostRedisplay()
{
    record("glutPostRedisplay");
}
void glutSwapBuffers()
{
    record("glutSwapBuffers");
}
void glutMainLoop()
{
    record("glutMainLoop");
}

} // extern "C"
