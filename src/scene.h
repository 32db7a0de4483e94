// Scene rendering: the compiled ball, the frame and the fixed projection.
#pragma once

// Display list of the ball, set once at start-up.
extern unsigned int ballList;

// Compiles the checkered unit sphere into a new display list and returns its id.
// Needs a current OpenGL context.
unsigned int compileBallList();

// GLUT display handler: grid, floor strip and ball, then a buffer swap.
void drawScene();

// GLUT reshape handler: whole-window viewport and the fixed orthographic view.
void reshapeView(int width, int height);
