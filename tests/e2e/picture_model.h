// What the window should show, worked out from the motion's figures and the
// fixed projection alone, never from the program's drawing code.
#pragma once

#include "x_harness.h"

#include <string>

// Where the ball's centre is after `step` steps, in view units, and its spin.
struct Place {
    double x, y, spin;
};
Place placeAtStep(long step);

// Pixel (column, row from the top) of a point in view units, for a window of
// width by height: the view's -6..6 square fills the window.
void toPixel(double vx, double vy, int width, int height, double& px, double& py);

// Checks every pixel of a picture of the scene with the ball centred at
// `place`. Pixels well inside the ball must be red or white; pixels well
// outside it must be cyan on the grid and floor lines and black elsewhere; a
// band about one pixel wide at each edge may be either. Every pixel must be
// exactly one of the four colours, within `tolerance` per channel, and every
// line must be drawn along its whole length. Returns an empty string when the
// picture fits, else the first bad pixel with what was expected and seen.
std::string checkPicture(const Image& image, const Place& place, int tolerance);

// Centre of the red and white pixels, in pixels; false if there are none.
bool ballCentre(const Image& image, double& px, double& py);
