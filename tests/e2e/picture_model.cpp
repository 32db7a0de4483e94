// What the window should show; see picture_model.h.
#include "picture_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const Rgb black{0, 0, 0}, cyan{0, 255, 255}, red{255, 0, 0}, white{255, 255, 255};
const double ballRadius = 2.0;

struct Segment {
    double x1, y1, x2, y2;
};

// The grid, the floor rays and the two floor cross-lines, in view units.
std::vector<Segment> sceneLines()
{
    std::vector<Segment> lines;
    for (int i = -5; i <= 5; i++) {
        lines.push_back({double(i), -5, double(i), 5});
        lines.push_back({-5, double(i), 5, double(i)});
        lines.push_back({double(i), -5, 1.15 * i, -5.9});
    }
    lines.push_back({-5.3, -5.35, 5.3, -5.35});
    lines.push_back({-5.75, -5.9, 5.75, -5.9});
    return lines;
}

double distanceToSegment(double px, double py, double x1, double y1, double x2, double y2)
{
    const double dx = x2 - x1, dy = y2 - y1;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((px - x1) * dx + (py - y1) * dy) / length2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (x1 + t * dx), py - (y1 + t * dy));
}

bool near(const Rgb& a, const Rgb& b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string describe(const Rgb& c)
{
    char text[32];
    std::snprintf(text, sizeof text, "(%d, %d, %d)", c.r, c.g, c.b);
    return text;
}

const double degrees = std::acos(-1.0) / 180;

// Colour of the checker patch that a pixel shows, or none where the patch is
// not certain. With back faces culled, what shows at a point of the disk is
// the inside of the ball's far half: the sphere point there with negative z.
// Undo the ball's placement (translate, scale 2, tilt 8 degrees about z,
// turn 90 about x, spin about z) to find its latitude and longitude; bands and
// columns are 18 degrees, and the patch in the lowest band at longitude 0 is red.
int patchParity(double vx, double vy, const Place& place)
{
    double x = (vx - place.x) / ballRadius, y = (vy - place.y) / ballRadius;
    const double r2 = x * x + y * y;
    if (r2 >= 1) {
        return -1;
    }
    double z = -std::sqrt(1 - r2);
    auto turnZ = [&](double angle) {
        const double c = std::cos(angle * degrees), s = std::sin(angle * degrees);
        const double nx = x * c - y * s, ny = x * s + y * c;
        x = nx;
        y = ny;
    };
    turnZ(-8);
    const double ny = y * std::cos(-90 * degrees) - z * std::sin(-90 * degrees);
    const double nz = y * std::sin(-90 * degrees) + z * std::cos(-90 * degrees);
    y = ny;
    z = nz;
    turnZ(-place.spin);
    const double lat = std::asin(std::clamp(z, -1.0, 1.0)) / degrees;
    double lon = std::atan2(y, x) / degrees;
    if (lon < 0) {
        lon += 360;
    }
    const int band = std::clamp(int(std::floor((lat + 90) / 18)), 0, 9);
    const int column = int(std::floor(lon / 18)) % 20;
    return (band + column) % 2;
}

} // namespace

Place placeAtStep(long step)
{
    // Drift: 0.2 a step from 0 to the right, reflected at -4 and 4: a
    // triangle wave of period 80 steps.
    const double travelled = std::fmod(0.2 * step + 4.0, 16.0);
    const double x = travelled <= 8 ? travelled - 4 : 12 - travelled;

    // Fall: from 1.0 at rest, gravity 0.1 a step; the first contact at step 11
    // puts the ball on the floor at -3.8 and sends it up at 1.1, every 24 steps.
    double y;
    if (step <= 10) {
        y = 1.0 - 0.05 * step * (step - 1);
    } else {
        const long k = (step - 11) % 24;
        y = -3.8 + 1.1 * k - 0.05 * k * (k - 1);
    }
    return {x, y, 30 * x};
}

void toPixel(double vx, double vy, int width, int height, double& px, double& py)
{
    px = (vx + 6) / 12 * width;
    py = (6 - vy) / 12 * height;
}

std::string checkPicture(const Image& image, const Place& place, int tolerance)
{
    const int w = image.width, h = image.height;
    std::vector<Segment> lines;
    for (const Segment& s : sceneLines()) {
        Segment p{};
        toPixel(s.x1, s.y1, w, h, p.x1, p.y1);
        toPixel(s.x2, s.y2, w, h, p.x2, p.y2);
        lines.push_back(p);
    }
    double cx = 0, cy = 0;
    toPixel(place.x, place.y, w, h, cx, cy);
    const double rx = ballRadius / 12 * w, ry = ballRadius / 12 * h;
    // The tessellated outline lies up to 0.6 pixels inside the sphere's, and
    // never outside it.
    const double insideEdge = 1.0, outsideEdge = 0.25;
    const double pixelX = 12.0 / w, pixelY = 12.0 / h; // view units per pixel

    char where[160];
    long redCount = 0, whiteCount = 0, inside = 0;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const Rgb seen = image.at(x, y);
            const double px = x + 0.5, py = y + 0.5;
            // Distance from the outline, in pixels, along the ellipse's normal.
            const double d = std::hypot((px - cx) / rx, (py - cy) / ry);
            const bool inBall = d < 1 - insideEdge / std::min(rx, ry);
            const bool outBall = d > 1 + outsideEdge / std::min(rx, ry);
            double nearest = 1e9;
            for (const Segment& s : lines) {
                nearest = std::min(nearest, distanceToSegment(px, py, s.x1, s.y1, s.x2, s.y2));
            }
            const bool offLine = nearest > 1.0;

            std::string expected;
            bool ok = false;
            // Away from the rim and from patch edges, the patch's colour is certain.
            int parity = -1;
            if (inBall && d < 0.85) {
                const double vx = px * pixelX - 6, vy = 6 - py * pixelY;
                parity = patchParity(vx, vy, place);
                for (const double o : {-1.5, 1.5}) {
                    if (patchParity(vx + o * pixelX, vy, place) != parity ||
                        patchParity(vx, vy + o * pixelY, place) != parity) {
                        parity = -1;
                    }
                }
            }
            if (parity >= 0) {
                const Rgb& patch = parity == 0 ? red : white;
                ok = near(seen, patch, tolerance);
                expected = describe(patch) + (parity == 0 ? " (a red patch)" : " (a white patch)");
                inside++;
                redCount += parity == 0;
                whiteCount += parity == 1;
            } else if (inBall) {
                ok = near(seen, red, tolerance) || near(seen, white, tolerance);
                expected = "red or white (inside the ball)";
                inside++;
                redCount += near(seen, red, tolerance);
                whiteCount += near(seen, white, tolerance);
            } else if (outBall && offLine) {
                ok = near(seen, black, tolerance);
                expected = describe(black) + " (background)";
            } else if (outBall) {
                ok = near(seen, black, tolerance) || near(seen, cyan, tolerance);
                expected = "black or cyan (within a pixel of a line)";
            } else {
                ok = near(seen, black, tolerance) || near(seen, cyan, tolerance) ||
                     near(seen, red, tolerance) || near(seen, white, tolerance);
                expected = "one of the scene's colours (ball outline)";
            }
            if (!ok) {
                std::snprintf(where, sizeof where, "pixel (%d, %d): expected %s, observed %s", x, y,
                              expected.c_str(), describe(seen).c_str());
                return where;
            }
        }
    }
    if (inside > 0 && (redCount < inside * 3 / 10 || whiteCount < inside * 3 / 10)) {
        std::snprintf(where, sizeof where, "ball: %ld red and %ld white of %ld pixels inside",
                      redCount, whiteCount, inside);
        return where;
    }

    // Every line is drawn along its whole length, where the ball leaves it
    // visible; the rasteriser may leave out a line's last pixel.
    for (const Segment& s : lines) {
        const double length = std::hypot(s.x2 - s.x1, s.y2 - s.y1);
        const double end = 1.5 / std::max(length, 1.0);
        for (double t = end; t <= 1 - end; t += 0.5 / std::max(length, 1.0)) {
            const double px = s.x1 + t * (s.x2 - s.x1), py = s.y1 + t * (s.y2 - s.y1);
            if (std::hypot((px - cx) / rx, (py - cy) / ry) < 1 + 3 / std::min(rx, ry)) {
                continue;
            }
            bool drawn = false;
            for (int y = int(py) - 1; y <= int(py) + 1 && !drawn; y++) {
                for (int x = int(px) - 1; x <= int(px) + 1 && !drawn; x++) {
                    drawn = x >= 0 && y >= 0 && x < w && y < h &&
                            std::hypot(x + 0.5 - px, y + 0.5 - py) <= 1.0 &&
                            near(image.at(x, y), cyan, tolerance);
                }
            }
            if (!drawn && px > 0.5 && py > 0.5 && px < w - 0.5 && py < h - 0.5) {
                std::snprintf(where, sizeof where,
                              "line (%.1f, %.1f)-(%.1f, %.1f): no cyan pixel within one pixel "
                              "of (%.1f, %.1f)",
                              s.x1, s.y1, s.x2, s.y2, px, py);
                return where;
            }
        }
    }
    return {};
}

bool ballCentre(const Image& image, double& px, double& py)
{
    double sx = 0, sy = 0;
    long n = 0;
    for (int y = 0; y < image.height; y++) {
        for (int x = 0; x < image.width; x++) {
            const Rgb c = image.at(x, y);
            if (c.r > 200 && (c.g < 50 || c.g > 200) && c.b == c.g) {
                sx += x + 0.5;
                sy += y + 0.5;
                n++;
            }
        }
    }
    if (n == 0) {
        return false;
    }
    px = sx / n;
    py = sy / n;
    return true;
}
