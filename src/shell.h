// Application shell: start-up, callback wiring and the two small handlers.
#pragma once

// GLUT visibility callback: runs the animation while the window is visible.
void handleVisibility(int state);

// GLUT keyboard callback: Esc ends the process with status 0.
void handleKey(unsigned char key, int x, int y);
