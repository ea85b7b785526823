// Writes the sample world: "world.xml" and the depth files it names, into the
// folder given as the only argument (the checked-in copy lives in assets/).
//
//   make_sample_world assets
//
// Everything is computed from shapes, with no randomness, so running it again
// gives the same bytes. Depths run from 0 (far) to 31 (near).
//
// A scene image holds the depths it shows when its top row lies on screen row
// 0 with the camera unmoved, and the engine adds one level every 15 rows; so
// both scene images are placed at y = 0, where their file values are what the
// viewer sees. A sprite shows (its value + the band of its feet row - 2), and
// the ground here is laid at exactly that baseline (row / 15 - 2), so a
// sprite's values read as its height above the ground it stands on.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "depth/compressed_file.hpp"
#include "depth/depth_map.hpp"

using namespace tolvane;

namespace {

constexpr int kWorldWidth = 1280;  // twice the screen: dragging shows new ground
constexpr int kWorldHeight = 480;
constexpr int kHorizon = 240;      // first row of open ground
constexpr double kPi = 3.14159265358979323846;

// A plain grid of depths with the nearer value kept where shapes overlap.
struct Canvas {
    int width;
    int height;
    std::vector<std::uint8_t> depth;

    Canvas(int w, int h) : width(w), height(h), depth(static_cast<std::size_t>(w) * h, 0) {}

    std::uint8_t get(int x, int y) const { return depth[static_cast<std::size_t>(y) * width + x]; }
    void raise(int x, int y, int d) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::uint8_t& p = depth[static_cast<std::size_t>(y) * width + x];
        p = static_cast<std::uint8_t>(std::clamp(std::max<int>(p, d), 0, 31));
    }
    void set(int x, int y, int d) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        depth[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(std::clamp(d, 0, 31));
    }
    void box(int x0, int y0, int x1, int y1, int d) {  // inclusive corners, overwrites
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) set(x, y, d);
    }
    // A dome: `rim` at the edge, up to `rim + rise` at the centre.
    void dome(double cx, double cy, double rx, double ry, int rim, int rise) {
        for (int y = static_cast<int>(cy - ry); y <= static_cast<int>(cy + ry) + 1; ++y) {
            for (int x = static_cast<int>(cx - rx); x <= static_cast<int>(cx + rx) + 1; ++x) {
                const double u = (x - cx) / rx, v = (y - cy) / ry;
                const double r2 = u * u + v * v;
                if (r2 <= 1.0) raise(x, y, rim + static_cast<int>(std::lround(rise * (1.0 - r2))));
            }
        }
    }
    // A line `thickness` pixels wide, kept nearer where it crosses others.
    void line(double x0, double y0, double x1, double y1, double thickness, int d) {
        const int steps = static_cast<int>(std::max(std::abs(x1 - x0), std::abs(y1 - y0)) * 2) + 1;
        for (int i = 0; i <= steps; ++i) {
            const double t = static_cast<double>(i) / steps;
            dome(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, thickness / 2, thickness / 2, d, 0);
        }
    }
};

int groundDepth(int row) { return row / 15 - 2; }

int mountainTop(int x) {
    const double a = std::pow(std::abs(std::sin(x * kPi / 260.0)), 0.8);
    const double b = std::abs(std::sin(x * kPi / 97.0 + 0.7));
    return static_cast<int>(196 - 62 * a - 18 * b);
}

int hillTop(int x) { return static_cast<int>(222 - 22 * std::sin(x / 110.0 + 0.5) - 9 * std::sin(x / 41.0)); }

void tree(Canvas& c, int x, int feet, int size) {
    const int ground = feet >= kHorizon ? groundDepth(feet) : 10;
    const int trunkTop = feet - size;
    for (int y = trunkTop; y <= feet; ++y)
        for (int dx = -size / 10 - 1; dx <= size / 10 + 1; ++dx) c.raise(x + dx, y, ground + 1);
    c.dome(x, trunkTop - size * 0.45, size * 0.55, size * 0.6, ground + 2, 2);
}

Canvas landscape() {
    Canvas c(kWorldWidth, kWorldHeight);
    // Clouds in the far sky.
    const int clouds[][3] = {{150, 60, 70}, {420, 95, 50}, {700, 45, 80}, {1010, 80, 60}, {1200, 50, 40}};
    for (const auto& cl : clouds) {
        c.dome(cl[0], cl[1], cl[2], cl[2] * 0.22, 1, 1);
        c.dome(cl[0] + cl[2] * 0.35, cl[1] - 8, cl[2] * 0.5, cl[2] * 0.2, 1, 2);
    }
    for (int x = 0; x < kWorldWidth; ++x) {
        const int mountain = mountainTop(x);
        for (int y = mountain; y < kWorldHeight; ++y) c.raise(x, y, 3 + std::min(2, (y - mountain) / 25));
        const int hill = hillTop(x);
        for (int y = hill; y < kWorldHeight; ++y) c.raise(x, y, 8 + std::min(4, (y - hill) / 7));
        for (int y = kHorizon; y < kWorldHeight; ++y) c.raise(x, y, groundDepth(y));
    }
    // Trees on the hills and in the fields.
    const int hillTrees[] = {60, 240, 520, 910, 1130};
    for (int x : hillTrees) tree(c, x, hillTop(x) + 14, 18);
    const int fieldTrees[][3] = {{110, 330, 44}, {360, 300, 34}, {560, 380, 56}, {1000, 350, 48}, {1180, 410, 64}, {880, 280, 28}};
    for (const auto& t : fieldTrees) tree(c, t[0], t[1], t[2]);
    // Rocks along a path.
    for (int i = 0; i < 9; ++i) {
        const int x = 200 + i * 115, feet = 395 + (i % 3) * 8;
        c.dome(x, feet - 5, 10 + (i % 4) * 3, 7, groundDepth(feet) + 1, 2);
    }
    // The near foreground: a fence along the bottom of the world.
    for (int x = 0; x < kWorldWidth; ++x) {
        for (int y = 438; y <= 443; ++y) c.raise(x, y, 30);
        for (int y = 456; y <= 461; ++y) c.raise(x, y, 30);
        if (x % 48 < 7)
            for (int y = 428; y <= 472; ++y) c.raise(x, y, 31);
    }
    return c;
}

// The house stands in its own scene image: the landscape under its
// rectangle with the house on top, so drawing it over the landscape changes
// only the house's own pixels.
constexpr int kHouseX = 680;
constexpr int kHouseWidth = 128;
constexpr int kHouseHeight = 384;

Canvas house(const Canvas& land) {
    Canvas c(kHouseWidth, kHouseHeight);
    for (int y = 0; y < kHouseHeight; ++y)
        for (int x = 0; x < kHouseWidth; ++x) c.set(x, y, land.get(kHouseX + x, y));
    const int feet = 370, ground = groundDepth(feet);  // 22
    c.box(16, 300, 111, feet, ground + 3);                 // walls
    c.box(88, 250, 98, 296, ground + 4);                   // chimney
    for (int y = 252; y < 300; ++y) {                      // roof, ridge nearest
        const int half = (y - 252) * 62 / 48;
        for (int x = 64 - half; x <= 64 + half; ++x) c.set(x, y, ground + 4 + (std::abs(x - 64) < half / 3 ? 1 : 0));
    }
    c.box(56, 332, 72, feet, ground + 1);                  // door, set back
    c.box(26, 314, 44, 330, ground + 1);                   // windows, set back
    c.box(84, 314, 102, 330, ground + 1);
    return c;
}

// Sheets of equal frames, left to right.
constexpr int kBallFrames = 6, kBallWidth = 32, kBallHeight = 60;

Canvas ballSheet() {
    Canvas c(kBallFrames * kBallWidth, kBallHeight);
    for (int f = 0; f < kBallFrames; ++f) {
        const double phase = (f + 0.5) / kBallFrames;
        const double lift = 34.0 * 4.0 * phase * (1.0 - phase);
        const bool squashed = f == 0 || f == kBallFrames - 1;
        const double rx = squashed ? 14.0 : 12.0, ry = squashed ? 9.5 : 12.0;
        c.dome(f * kBallWidth + 15.5, kBallHeight - 1 - ry - lift, rx, ry, 3, 4);
    }
    return c;
}

constexpr int kBirdFrames = 4, kBirdWidth = 44, kBirdHeight = 22;

Canvas birdSheet() {
    Canvas c(kBirdFrames * kBirdWidth, kBirdHeight);
    const int tip[kBirdFrames] = {-9, -2, 7, -2};  // wings up, level, down, level
    for (int f = 0; f < kBirdFrames; ++f) {
        const double cx = f * kBirdWidth + 21.5, cy = 11;
        c.line(cx - 4, cy, cx - 19, cy + tip[f], 3.0, 3);
        c.line(cx + 4, cy, cx + 19, cy + tip[f], 3.0, 3);
        c.dome(cx, cy + 1, 7, 4, 4, 1);
    }
    return c;
}

constexpr int kWalkerFrames = 4, kWalkerWidth = 24, kWalkerHeight = 48;

Canvas walkerSheet() {
    Canvas c(kWalkerFrames * kWalkerWidth, kWalkerHeight);
    const int stride[kWalkerFrames] = {7, 2, -7, 2};
    for (int f = 0; f < kWalkerFrames; ++f) {
        const double cx = f * kWalkerWidth + 11.5;
        c.dome(cx, 7, 4.5, 4.5, 4, 1);                        // head
        c.line(cx, 12, cx, 30, 3, 3);                         // body
        c.line(cx, 30, cx + stride[f], 46, 3, 3);             // legs
        c.line(cx, 30, cx - stride[f], 46, 3, 2);
        c.line(cx, 16, cx - stride[f] * 0.8, 27, 2.5, 3);     // arms
        c.line(cx, 16, cx + stride[f] * 0.8, 27, 2.5, 2);
    }
    return c;
}

char depthChar(std::uint8_t d) {
    if (d == 0) return ' ';
    if (d <= 9) return static_cast<char>('0' + d);
    if (d == 10) return '0';
    return static_cast<char>('A' + (d - 11));
}

bool writeText(const Canvas& c, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << c.width << ' ' << c.height << '\n';
    for (int y = 0; y < c.height; ++y) {
        std::string row(static_cast<std::size_t>(c.width), ' ');
        for (int x = 0; x < c.width; ++x) row[static_cast<std::size_t>(x)] = depthChar(c.get(x, y));
        out << row << '\n';
    }
    return static_cast<bool>(out);
}

DepthMapPtr toMap(const Canvas& c) {
    DepthMapPtr map = createDepthMap(c.width, c.height);
    if (map) std::copy(c.depth.begin(), c.depth.end(), map->pixels);
    return map;
}

bool writeSchm(const Canvas& c, const std::string& path) {
    DepthMapPtr map = toMap(c);
    return map && saveSchm(*map, path.c_str());
}

bool writeScmhm(const Canvas& c, const std::string& path) {
    DepthMapPtr map = toMap(c);
    return map && saveScmhm(*map, path.c_str());
}

// No comments: the markup reader would take one for an element.
const char* const kWorldXml =
    "<World>\n"
    "  <image type=\"scene\" name=\"landscape\" file=\"landscape.scmhm\" />\n"
    "  <image type=\"scene\" name=\"house\" file=\"house.txt\" />\n"
    "  <image type=\"sprite\" name=\"ball\" file=\"ball.txt\" sizex=\"32\" sizey=\"60\" />\n"
    "  <image type=\"sprite\" name=\"bird\" file=\"bird.schm\" sizex=\"44\" sizey=\"22\" />\n"
    "  <image type=\"sprite\" name=\"walker\" file=\"walker.txt\" sizex=\"24\" sizey=\"48\" />\n"
    "  <element type=\"scene\" imagename=\"landscape\" x=\"0\" y=\"0\" />\n"
    "  <element type=\"scene\" imagename=\"house\" x=\"680\" y=\"0\" />\n"
    "  <element type=\"ani\" imagename=\"ball\" x=\"300\" y=\"420\" fps=\"9\" startframe=\"0\" />\n"
    "  <element type=\"ani\" imagename=\"ball\" x=\"1060\" y=\"380\" fps=\"7\" startframe=\"2.5\" />\n"
    "  <element type=\"ani\" imagename=\"bird\" x=\"420\" y=\"130\" fps=\"8\" startframe=\"0\" />\n"
    "  <element type=\"ani\" imagename=\"bird\" x=\"470\" y=\"150\" fps=\"7\" startframe=\"2\" />\n"
    "  <element type=\"ani\" imagename=\"bird\" x=\"980\" y=\"110\" fps=\"9\" startframe=\"1\" />\n"
    "  <element type=\"char\" imagename=\"walker\" x=\"0\" y=\"0\" fps=\"6\" startframe=\"0\" />\n"
    "</World>\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const Canvas land = landscape();
    bool ok = writeScmhm(land, folder + "landscape.scmhm");
    ok = writeText(house(land), folder + "house.txt") && ok;
    ok = writeText(ballSheet(), folder + "ball.txt") && ok;
    ok = writeSchm(birdSheet(), folder + "bird.schm") && ok;
    ok = writeText(walkerSheet(), folder + "walker.txt") && ok;
    {
        std::ofstream out(folder + "world.xml", std::ios::binary);
        out << kWorldXml;
        ok = static_cast<bool>(out) && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "%s: could not write every file into %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
