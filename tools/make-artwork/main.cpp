// make-artwork: draws every picture that Tempovaro builds in.
//
//   make-artwork OUTPUT_DIR
//
// writes background.png, stopwatch.png, icon.png, about.png, barometer.dib,
// baro_off.dib and device_icon.png, and the application icon for the
// desktop's icon theme (icons/tempovaro-SIZE.png and icons/tempovaro.svg).
// The pictures are computed pixel by pixel from shapes given as distance
// functions, in plain double arithmetic with no fonts and no painter, so the
// same build always writes the same bytes and the files in resources/ can be
// checked against this program.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r = 0, g = 0, b = 0;
};

Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Rgb operator*(Rgb a, double k) { return {a.r * k, a.g * k, a.b * k}; }
Rgb mix(Rgb a, Rgb b, double t) { return a * (1 - t) + b * t; }

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
double smooth(double e0, double e1, double x)
{
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

uchar toByte(double v)
{
    const double r = std::floor(v + 0.5);
    return uchar(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// Integer hash noise: the same on every machine.
double hashNoise(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = std::uint32_t(x) * 374761393u + std::uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xffff) / 65535.0 * 2 - 1;
}

// Smooth value noise with cells of `cell` pixels, in -1..1.
double valueNoise(double x, double y, double cell, std::uint32_t seed)
{
    const double fx = x / cell, fy = y / cell;
    const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
    const double tx = smooth(0, 1, fx - ix), ty = smooth(0, 1, fy - iy);
    const double a = hashNoise(ix, iy, seed), b = hashNoise(ix + 1, iy, seed);
    const double c = hashNoise(ix, iy + 1, seed), d = hashNoise(ix + 1, iy + 1, seed);
    return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
}

// ---- distance functions (negative inside) ---------------------------------

double circleSdf(double x, double y, double cx, double cy, double r)
{
    return std::hypot(x - cx, y - cy) - r;
}

double boxSdf(double x, double y, double cx, double cy, double hw, double hh, double radius)
{
    const double qx = std::fabs(x - cx) - hw + radius;
    const double qy = std::fabs(y - cy) - hh + radius;
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

double segmentDistance(double x, double y, double ax, double ay, double bx, double by)
{
    const double px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? clamp01((px * dx + py * dy) / len2) : 0;
    return std::hypot(px - dx * t, py - dy * t);
}

// ---- lighting ---------------------------------------------------------------

struct Vec3 {
    double x, y, z;
};

Vec3 normalized(Vec3 v)
{
    const double l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {v.x / l, v.y / l, v.z / l};
}

double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Light from the upper left, in front of the picture.
const Vec3 kLight = normalized({-0.45, -0.65, 0.62});

// Polished steel: a bright sky above, a dark room below, and a hot spot.
Rgb chrome(Vec3 n, Rgb tint = {1, 1, 1})
{
    n = normalized(n);
    const Vec3 reflected = {2 * n.z * n.x, 2 * n.z * n.y, 2 * n.z * n.z - 1};
    const double up = clamp01(0.5 - reflected.y * 0.9 - reflected.x * 0.25);
    const Rgb sky{236, 241, 250}, floor{78, 86, 100};
    Rgb env = mix(floor, sky, smooth(0.25, 0.75, up));
    const Vec3 half = normalized({kLight.x, kLight.y, kLight.z + 1});
    const double specular = std::pow(std::max(0.0, dot(n, half)), 40);
    const double diffuse = std::max(0.0, dot(n, kLight));
    env = Rgb{env.r * tint.r, env.g * tint.g, env.b * tint.b};
    return env * (0.72 + 0.28 * diffuse) + Rgb{255, 255, 255} * (0.55 * specular);
}

// A cylinder across u = -1..1 (its axis along the other direction).
Vec3 cylinderNormal(double u, double ax, double ay)
{
    u = std::clamp(u, -0.98, 0.98);
    const double s = std::sqrt(1 - u * u);
    return {u * ax, u * ay, s};
}

// ---- stroke digits ----------------------------------------------------------

// Digits 0..6 as polylines on a 10 x 16 grid (y down): all the dial needs.
using Polyline = std::vector<std::array<double, 2>>;
const std::vector<std::vector<Polyline>>& digitStrokes()
{
    static const std::vector<std::vector<Polyline>> strokes = [] {
        std::vector<std::vector<Polyline>> d(7);
        Polyline zero;
        for (int i = 0; i <= 24; ++i) {
            const double a = i * 2 * kPi / 24;
            zero.push_back({5 + 4.2 * std::sin(a), 8 - 7.8 * std::cos(a)});
        }
        d[0] = {zero};
        d[1] = {{{2.2, 3.2}, {5.6, 0.2}, {5.6, 15.8}}};
        d[2] = {{{1.0, 4.0}, {1.8, 1.6}, {4.0, 0.2}, {6.6, 0.3}, {8.6, 2.0}, {8.9, 4.6}, {7.6, 7.4},
                 {1.0, 15.8}, {9.2, 15.8}}};
        d[3] = {{{1.2, 2.0}, {3.6, 0.2}, {6.6, 0.3}, {8.5, 2.2}, {8.4, 5.2}, {6.4, 7.3}, {3.8, 7.6}},
                {{6.4, 7.6}, {8.8, 9.6}, {9.0, 12.6}, {7.4, 15.2}, {4.4, 16.0}, {1.0, 14.4}}};
        d[4] = {{{7.0, 15.8}, {7.0, 0.2}, {0.6, 11.0}, {9.6, 11.0}}};
        d[5] = {{{8.6, 0.2}, {1.8, 0.2}, {1.2, 7.2}, {3.8, 6.1}, {6.6, 6.3}, {8.8, 8.6}, {9.0, 12.4},
                 {7.2, 15.2}, {4.2, 16.0}, {1.0, 14.6}}};
        d[6] = {{{8.4, 1.4}, {5.8, 0.2}, {3.2, 0.8}, {1.4, 4.0}, {0.9, 9.0}, {1.4, 13.4}, {3.4, 15.7},
                 {6.2, 15.8}, {8.4, 14.0}, {9.1, 11.0}, {8.2, 8.2}, {5.6, 6.9}, {3.0, 7.6}, {1.2, 10.4}}};
        return d;
    }();
    return strokes;
}

// Distance (in pixels) from (x, y) to the strokes of `text` drawn with its
// centre at (cx, cy), digits `height` pixels high.
double textDistance(double x, double y, const char* text, double cx, double cy, double height)
{
    const double unit = height / 16;
    int count = 0;
    while (text[count])
        ++count;
    const double width = (count * 10 + (count - 1) * 3.5) * unit;
    double best = 1e9;
    for (int i = 0; i < count; ++i) {
        const double ox = cx - width / 2 + i * 13.5 * unit;
        const double oy = cy - height / 2;
        for (const Polyline& line : digitStrokes()[size_t(text[i] - '0')])
            for (size_t k = 1; k < line.size(); ++k)
                best = std::min(best, segmentDistance(x, y, ox + line[k - 1][0] * unit, oy + line[k - 1][1] * unit,
                                                      ox + line[k][0] * unit, oy + line[k][1] * unit));
    }
    return best;
}

// ---- rendering --------------------------------------------------------------

// Renders an opaque picture by averaging n x n samples per pixel.
QImage render(int w, int h, int n, const std::function<Rgb(double, double)>& sample)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            Rgb sum;
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i)
                    sum = sum + sample(px + (i + 0.5) / n, py + (j + 0.5) / n);
            sum = sum * (1.0 / (n * n));
            img.setPixel(px, py, qRgb(toByte(sum.r), toByte(sum.g), toByte(sum.b)));
        }
    }
    return img;
}

// ---- the stopwatch ----------------------------------------------------------

constexpr int kWatchW = 430, kWatchH = 577;
// The dial's centre: pixel (202, 346), 47 % of the width and 60 % of the height.
constexpr double kCx = 202.5, kCy = 346.5;
const Rgb kBackdrop{23, 0, 193};
const Rgb kOutline{44, 48, 56};
constexpr double kOutlineWidth = 1.5;

constexpr double kBodyR = 196, kBezelInnerR = 178, kFaceR = 175.5;
constexpr double kBowY = 44, kBowInner = 22, kBowOuter = 36;
constexpr double kPusherAngle = 48 * kPi / 180;

struct Oriented {
    double along, across;
};

// Coordinates along the side pusher's axis (from the dial centre outwards).
Oriented pusherCoords(double x, double y)
{
    const double dx = std::sin(kPusherAngle), dy = -std::cos(kPusherAngle);
    const double px = x - kCx, py = y - kCy;
    return {px * dx + py * dy, px * -dy + py * dx};
}

double bowSdf(double x, double y)
{
    return std::fabs(std::hypot(x - kCx, y - kBowY) - (kBowInner + kBowOuter) / 2) - (kBowOuter - kBowInner) / 2;
}
double crownSdf(double x, double y) { return boxSdf(x, y, kCx, 97, 34, 25, 7); }
double stemSdf(double x, double y) { return boxSdf(x, y, kCx, 137, 15, 20, 2); }
double pusherStemSdf(double x, double y)
{
    const Oriented o = pusherCoords(x, y);
    return boxSdf(o.along, o.across, 205, 0, 22, 10, 2);
}
double pusherButtonSdf(double x, double y)
{
    const Oriented o = pusherCoords(x, y);
    return boxSdf(o.along, o.across, 234, 0, 13, 19, 5);
}
double bodySdf(double x, double y) { return circleSdf(x, y, kCx, kCy, kBodyR); }

double watchSdf(double x, double y)
{
    return std::min({bowSdf(x, y), crownSdf(x, y), stemSdf(x, y), pusherStemSdf(x, y), pusherButtonSdf(x, y),
                     bodySdf(x, y)});
}

// A shape's own colour, darkened into an outline along its edge so shapes read
// apart from each other and the watch ends in a dark line, never in backdrop.
Rgb outlined(Rgb inner, double sdf)
{
    return mix(inner, kOutline, smooth(-kOutlineWidth - 0.6, -kOutlineWidth + 0.4, sdf));
}

Rgb knurled(Rgb c, double phase)
{
    const double g = 0.5 + 0.5 * std::cos(phase);
    return c * (0.74 + 0.26 * g);
}

Rgb dialFace(double x, double y)
{
    const double dx = x - kCx, dy = y - kCy;
    const double r = std::hypot(dx, dy);
    Rgb c = Rgb{248, 249, 251} * (1 - 0.07 * std::pow(r / kFaceR, 3));

    // A hairline circle around the area that the elapsed-seconds sector fills.
    c = mix(c, Rgb{205, 211, 222}, 1 - smooth(0.4, 0.9, std::fabs(r - 91)));

    double angle = std::atan2(dx, -dy);
    if (angle < 0)
        angle += 2 * kPi;
    auto tick = [&](double step, double r1, double r2, double width, Rgb colour) {
        if (r < r1 - 1 || r > r2 + 1)
            return;
        const double k = std::round(angle / step);
        const double across = r * std::sin(std::fabs(angle - k * step));
        const double d = std::max(across - width / 2, std::max(r1 - r, r - r2));
        c = mix(c, colour, 1 - smooth(-0.35, 0.35, d));
    };
    const Rgb ink{36, 40, 50};
    tick(2 * kPi / 300, 156, 161, 0.7, Rgb{120, 126, 138});
    tick(2 * kPi / 60, 149, 161, 1.5, ink);
    tick(2 * kPi / 12, 138, 161, 3.2, ink);

    // Numerals 5 ... 60, upright; the 60 at the top in red.
    if (r > 96 && r < 138) {
        const int k = int(std::round(angle / (2 * kPi / 12))) % 12;
        const int value = k == 0 ? 60 : k * 5;
        char text[3] = {0, 0, 0};
        if (value >= 10) {
            text[0] = char('0' + value / 10);
            text[1] = char('0' + value % 10);
        } else {
            text[0] = char('0' + value);
        }
        const double a = k * 2 * kPi / 12;
        const double d = textDistance(x, y, text, kCx + 118 * std::sin(a), kCy - 118 * std::cos(a), 19) - 1.25;
        c = mix(c, value == 60 ? Rgb{196, 28, 30} : ink, 1 - smooth(-0.35, 0.35, d));
    }

    // The centre pin the needle turns on.
    const double pin = r - 6;
    c = mix(c, Rgb{58, 62, 72}, 1 - smooth(-0.4, 0.4, pin));
    if (r < 6)
        c = c + Rgb{60, 60, 60} * std::max(0.0, 1 - std::hypot(dx + 2, dy + 2) / 3);

    // The glass catches the light along its upper left edge.
    const double glint = std::hypot(x - (kCx + 26), y - (kCy + 34));
    const double glass = smooth(172, 188, glint) * smooth(40, -60, dx + dy);
    c = mix(c, Rgb{255, 255, 255}, 0.35 * glass);
    // ... and throws a soft shadow of the bezel on the face.
    c = c * (1 - 0.10 * smooth(kFaceR - 10, kFaceR, std::hypot(x - (kCx - 4), y - (kCy - 5))));
    return c;
}

// The colour of the watch at a point, or false where no part is.
bool watchSample(double x, double y, Rgb& out)
{
    bool hit = false;
    auto over = [&](double sdf, Rgb colour) {
        if (sdf <= 0) {
            out = outlined(colour, sdf);
            hit = true;
        }
    };

    const double bow = bowSdf(x, y);
    if (bow <= 0) {
        const double t = (std::hypot(x - kCx, y - kBowY) - kBowInner) / (kBowOuter - kBowInner);
        const double tilt = -std::cos(kPi * clamp01(t));
        const double r = std::max(1e-6, std::hypot(x - kCx, y - kBowY));
        over(bow, chrome({(x - kCx) / r * tilt, (y - kBowY) / r * tilt, 0.8}));
    }

    const double stem = stemSdf(x, y);
    if (stem <= 0)
        over(stem, chrome(cylinderNormal((x - kCx) / 15, 1, 0)));

    const double crown = crownSdf(x, y);
    if (crown <= 0) {
        const double u = (x - kCx) / 34;
        Rgb c = chrome(cylinderNormal(u, 1, 0));
        const double flange = std::fabs(y - 97);
        if (flange < 19)
            c = knurled(c, std::asin(std::clamp(u, -1.0, 1.0)) * 22);
        else
            c = c * 0.92;
        over(crown, c);
    }

    const double pStem = pusherStemSdf(x, y);
    const double pButton = pusherButtonSdf(x, y);
    if (pStem <= 0 || pButton <= 0) {
        const Oriented o = pusherCoords(x, y);
        const double ax = std::cos(kPusherAngle), ay = std::sin(kPusherAngle);
        if (pStem <= 0)
            over(pStem, chrome(cylinderNormal(o.across / 10, ax, ay)));
        if (pButton <= 0) {
            const double u = o.across / 19;
            over(pButton, knurled(chrome(cylinderNormal(u, ax, ay)), std::asin(std::clamp(u, -1.0, 1.0)) * 14));
        }
    }

    const double body = bodySdf(x, y);
    if (body <= 0) {
        const double dx = x - kCx, dy = y - kCy;
        const double r = std::hypot(dx, dy);
        Rgb c;
        if (r >= kBezelInnerR) {
            const double t = (r - kBezelInnerR) / (kBodyR - kBezelInnerR);
            const double tilt = -std::cos(kPi * t) * 0.95;
            c = chrome({dx / r * tilt, dy / r * tilt, 0.75});
        } else if (r >= kFaceR) {
            c = Rgb{96, 102, 114};
        } else {
            c = dialFace(x, y);
        }
        // The groove between bezel and face.
        c = mix(c, Rgb{70, 75, 86}, 1 - smooth(0.3, 1.3, std::fabs(r - (kBezelInnerR - 1))));
        over(body, c);
    }
    return hit;
}

QImage drawStopwatch()
{
    constexpr int n = 4;
    QImage img(kWatchW, kWatchH, QImage::Format_RGB32);
    for (int py = 0; py < kWatchH; ++py) {
        for (int px = 0; px < kWatchW; ++px) {
            // The silhouette is decided once per pixel: outside it the pixel
            // is exactly the backdrop colour that the main window leaves out,
            // inside it no sample ever mixes the backdrop in.
            if (watchSdf(px + 0.5, py + 0.5) > 0) {
                img.setPixel(px, py, qRgb(23, 0, 193));
                continue;
            }
            Rgb sum;
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    Rgb s;
                    if (!watchSample(px + (i + 0.5) / n, py + (j + 0.5) / n, s))
                        s = kOutline;
                    sum = sum + s;
                }
            }
            sum = sum * (1.0 / (n * n));
            img.setPixel(px, py, qRgb(toByte(sum.r), toByte(sum.g), toByte(sum.b)));
        }
    }
    return img;
}

// ---- the background: a coated drum head seen from above ---------------------

QImage drawBackground()
{
    constexpr double cx = 156, cy = 118;
    constexpr double headR = 147, hoopR = 158;
    return render(312, 229, 3, [&](double x, double y) {
        const double dx = x - cx, dy = y - cy;
        const double r = std::hypot(dx, dy);
        const double light = (-dx - dy) / 420;
        Rgb c;
        if (r < headR) {
            // Coated head: pale blue-grey with a fine sprayed grain.
            c = Rgb{226, 231, 240};
            const double grain = valueNoise(x, y, 3.5, 7) * 2.2 + valueNoise(x, y, 11, 8) * 1.8
                               + hashNoise(int(std::floor(x * 2)), int(std::floor(y * 2)), 9) * 0.9;
            c = c + Rgb{1, 1, 1} * (grain + light * 14);
            // The playing area, a little greyer where the sticks land.
            const double spot = std::hypot(dx - 8, dy - 5);
            c = c * (1 - 0.025 * (1 - smooth(12, 52, spot)));
            // The collar where the head bends over the bearing edge.
            c = c * (1 - 0.11 * smooth(headR - 15, headR, r));
            c = mix(c, Rgb{248, 250, 253}, 0.35 * smooth(headR - 22, headR - 12, r) * (1 - smooth(headR - 12, headR - 5, r))
                                            * clamp01(-(dx + dy) / r));
        } else if (r < hoopR) {
            const double t = (r - headR) / (hoopR - headR);
            const double tilt = -std::cos(kPi * t) * 0.9;
            c = chrome({dx / r * tilt, dy / r * tilt, 0.8}, {0.93, 0.95, 1.0});
            c = mix(c, Rgb{206, 213, 226}, 0.35);
        } else {
            // The shell and the dark room beyond the hoop.
            c = Rgb{176, 186, 204} * (1 - 0.12 * smooth(hoopR, hoopR + 70, r));
            c = c + Rgb{1, 1, 1} * (valueNoise(x, y, 6, 11) * 1.5);
            c = c * (1 - 0.28 * (1 - smooth(0, 5, r - hoopR)));
        }
        // Ten tension lugs around the hoop.
        double angle = std::atan2(dx, -dy);
        if (angle < 0)
            angle += 2 * kPi;
        const double step = 2 * kPi / 10;
        const double a = (std::floor(angle / step) + 0.5) * step;
        const double along = dx * std::sin(a) - dy * std::cos(a);
        const double across = dx * std::cos(a) + dy * std::sin(a);
        // A claw over the hoop and the tension rod's square head.
        const double lug = std::min(boxSdf(along, across, hoopR + 4, 0, 9, 3.2, 1.5),
                                    boxSdf(along, across, hoopR + 13, 0, 5, 5, 1.5));
        if (lug < 0.5) {
            const Rgb metal = mix(chrome(cylinderNormal(across / 5.2, std::cos(a), std::sin(a)), {0.93, 0.95, 1.0}),
                                  Rgb{206, 213, 226}, 0.3);
            c = mix(c, mix(metal, Rgb{120, 130, 150}, smooth(-1.6, 0, lug)), 1 - smooth(-0.3, 0.5, lug));
        }
        return c;
    });
}

// ---- the window icon: a small stopwatch --------------------------------------

// The window icon's shapes on its 32 x 32 grid: a stopwatch whose first
// third is filled, the needle at 40 s. Returns false where no shape is.
constexpr double kIconCx = 16, kIconCy = 18.5;
bool iconSample(double x, double y, Rgb& c)
{
    const double cx = kIconCx, cy = kIconCy;
    const double dx = x - cx, dy = y - cy, r = std::hypot(dx, dy);
    if (r <= 13) {
        if (r > 10.5) {
            c = chrome({dx / r * 0.7, dy / r * 0.7, 0.7});
            if (r > 12.2)
                c = Rgb{40, 44, 52};
        } else {
            c = Rgb{250, 251, 253};
            double angle = std::atan2(dx, -dy);
            if (angle < 0)
                angle += 2 * kPi;
            if (r < 8 && angle < 2 * kPi / 3)
                c = Rgb{108, 127, 157};
            if (segmentDistance(x, y, cx, cy, cx + 8.5 * std::sin(2 * kPi / 3), cy - 8.5 * std::cos(2 * kPi / 3)) < 0.8)
                c = Rgb{0, 0, 0};
            if (std::hypot(dx, dy + 8.8) < 1.3)
                c = Rgb{220, 0, 0};
        }
    } else if (boxSdf(x, y, 16, 4.2, 3.2, 2.4, 0.8) <= 0) {
        c = chrome(cylinderNormal((x - 16) / 3.2, 1, 0));
    } else if (boxSdf(x, y, 16, 6.5, 1.5, 1.5, 0) <= 0) {
        c = Rgb{120, 126, 138};
    } else {
        return false;
    }
    return true;
}

// A size x size picture, 6 x 6 samples per pixel: the colour averaged over
// the samples that hit a shape and their share as alpha. sample(x, y, colour)
// takes pixel coordinates and says whether (x, y) hits a shape.
template <class Sample>
QImage supersampled(int size, Sample sample)
{
    constexpr int n = 6;
    QImage img(size, size, QImage::Format_ARGB32);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Rgb sum;
            int hits = 0;
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    Rgb c;
                    if (!sample(px + (i + 0.5) / n, py + (j + 0.5) / n, c))
                        continue;
                    sum = sum + c;
                    ++hits;
                }
            }
            if (hits == 0) {
                img.setPixel(px, py, 0);
                continue;
            }
            sum = sum * (1.0 / hits);
            img.setPixel(px, py, qRgba(toByte(sum.r), toByte(sum.g), toByte(sum.b), toByte(255.0 * hits / (n * n))));
        }
    }
    return img;
}

// The icon at size x size pixels: 36 samples per pixel of the 32-unit grid
// at any size, the colour averaged over the samples that hit a shape and
// their share as alpha.
QImage drawIconAt(int size)
{
    const double unit = 32.0 / size;
    return supersampled(size, [unit](double x, double y, Rgb& c) { return iconSample(x * unit, y * unit, c); });
}

// ---- the device dialog's icon: a jack plug, 256 colours ----------------------

// The plug lies from the lower left (cable) to the upper right (tip). In its
// own frame `along` runs from the cable's end of the handle towards the tip
// and `across` towards the upper left, where the light comes from.
constexpr double kPlugStartX = 5.5, kPlugStartY = 26.5;
const double kPlugAxis = std::sqrt(0.5);

struct PlugPart {
    double sdf;
    Rgb colour;
};

// The colour of the plug at (x, y), the shape drawn last winning; false where
// there is none.
bool plugSample(double x, double y, Rgb& out)
{
    const double px = x - kPlugStartX, py = y - kPlugStartY;
    const double along = (px - py) * kPlugAxis;
    const double across = (-px - py) * kPlugAxis;
    // Screen direction of `across`, for the cylinder normals.
    const double ax = -kPlugAxis, ay = -kPlugAxis;
    auto matte = [&](Rgb base, double halfWidth) {
        const Vec3 n = cylinderNormal(across / halfWidth, ax, ay);
        const Vec3 half = normalized({kLight.x, kLight.y, kLight.z + 1});
        return base * (0.55 + 0.55 * std::max(0.0, dot(n, kLight)))
             + Rgb{255, 255, 255} * (0.25 * std::pow(std::max(0.0, dot(n, half)), 30));
    };
    auto metal = [&](double halfWidth) { return chrome(cylinderNormal(across / halfWidth, ax, ay), {0.95, 0.97, 1.0}); };

    const Rgb rubber{58, 64, 78};
    const double reliefHalfWidth = 2.0 + 0.24 * std::clamp(along, 0.0, 5.0);
    Rgb handle = matte(Rgb{108, 127, 157}, 4.3);
    // Grip grooves round the handle.
    for (const double groove : {8.0, 10.0, 12.0})
        handle = mix(handle, Rgb{70, 84, 108}, 1 - smooth(0.25, 0.6, std::fabs(along - groove)));
    const PlugPart parts[] = {
        {segmentDistance(along, across, -30, 0, 1, 0) - 1.7, matte(rubber, 1.7)},
        {std::max(std::fabs(across) - reliefHalfWidth, std::max(-along, along - 5.2)), matte(rubber, reliefHalfWidth)},
        {boxSdf(along, across, 10.25, 0, 5.25, 4.3, 1.5), handle},
        {boxSdf(along, across, 16.25, 0, 0.75, 3.0, 0.4), metal(3.0)},
        {boxSdf(along, across, 21.5, 0, 4.5, 1.9, 0), metal(1.9)},
        {boxSdf(along, across, 26.6, 0, 0.6, 1.75, 0), Rgb{28, 30, 36}},
        {std::min(boxSdf(along, across, 27.95, 0, 0.75, 1.9, 0), circleSdf(along, across, 28.7, 0, 1.9)), metal(1.9)},
    };
    bool hit = false;
    for (const PlugPart& part : parts) {
        if (part.sdf <= 0) {
            // A dark edge keeps the plug apart from any window behind it.
            out = mix(part.colour, Rgb{30, 34, 42}, smooth(-0.9, -0.3, part.sdf));
            hit = true;
        }
    }
    return hit;
}

// An indexed picture of at most 256 colours: entry 0 is fully transparent,
// the others are the picture's colours on the finest even grid (the same step
// for red, green, blue and alpha) that needs no more than 255 of them.
QImage toIndexed(const QImage& argb)
{
    for (int step = 1;; ++step) {
        auto snap = [step](int v) { return std::min(255, (v + step / 2) / step * step); };
        std::vector<QRgb> colours;
        for (int y = 0; y < argb.height(); ++y) {
            for (int x = 0; x < argb.width(); ++x) {
                const QRgb p = argb.pixel(x, y);
                if (qAlpha(p) == 0)
                    continue;
                colours.push_back(qRgba(snap(qRed(p)), snap(qGreen(p)), snap(qBlue(p)), snap(qAlpha(p))));
            }
        }
        std::sort(colours.begin(), colours.end());
        colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
        if (colours.size() > 255)
            continue;
        QList<QRgb> table{qRgba(0, 0, 0, 0)};
        table.append(QList<QRgb>(colours.begin(), colours.end()));
        QImage out(argb.size(), QImage::Format_Indexed8);
        out.setColorTable(table);
        for (int y = 0; y < argb.height(); ++y) {
            for (int x = 0; x < argb.width(); ++x) {
                const QRgb p = argb.pixel(x, y);
                int index = 0;
                if (qAlpha(p) != 0) {
                    const QRgb key = qRgba(snap(qRed(p)), snap(qGreen(p)), snap(qBlue(p)), snap(qAlpha(p)));
                    index = 1 + int(std::lower_bound(colours.begin(), colours.end(), key) - colours.begin());
                }
                out.setPixel(x, y, uint(index));
            }
        }
        return out;
    }
}

QImage drawDeviceIcon()
{
    return toIndexed(supersampled(32, plugSample));
}

QImage drawIcon() { return drawIconAt(32); }

// The same icon as vectors, for the scalable icon theme entry: the shapes of
// iconSample in the order they cover each other, the chrome as gradients
// sampled from the same lighting.
QByteArray iconSvg()
{
    auto hex = [](Rgb c) {
        char text[8];
        std::snprintf(text, sizeof text, "#%02x%02x%02x", toByte(c.r), toByte(c.g), toByte(c.b));
        return QByteArray(text);
    };
    auto num = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", v);
        QByteArray t(text);
        while (t.endsWith('0'))
            t.chop(1);
        if (t.endsWith('.'))
            t.chop(1);
        return t == "-0" ? QByteArray("0") : t;
    };
    constexpr int kStops = 9;
    const double cx = kIconCx, cy = kIconCy;
    QByteArray out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
           "  <defs>\n";
    // The crown: a polished cylinder lying across the picture.
    out += "    <linearGradient id=\"crown\" x1=\"12.8\" y1=\"0\" x2=\"19.2\" y2=\"0\" gradientUnits=\"userSpaceOnUse\">\n";
    for (int k = 0; k < kStops; ++k) {
        const double t = k / double(kStops - 1);
        out += "      <stop offset=\"" + num(t) + "\" stop-color=\"" + hex(chrome(cylinderNormal(2 * t - 1, 1, 0)))
             + "\"/>\n";
    }
    out += "    </linearGradient>\n";
    // The bezel: its colour at the two points of the ring (mid-radius) that
    // project onto each stop of the diagonal, averaged.
    const double ax = std::sqrt(0.5), ay = std::sqrt(0.5), ringR = 11.35;
    out += "    <linearGradient id=\"bezel\" x1=\"" + num(cx - ringR * ax) + "\" y1=\"" + num(cy - ringR * ay)
         + "\" x2=\"" + num(cx + ringR * ax) + "\" y2=\"" + num(cy + ringR * ay) + "\" gradientUnits=\"userSpaceOnUse\">\n";
    for (int k = 0; k < kStops; ++k) {
        const double t = k / double(kStops - 1), along = 2 * t - 1, across = std::sqrt(std::max(0.0, 1 - along * along));
        Rgb c;
        for (double side : {-1.0, 1.0}) {
            const double ux = along * ax - side * across * ay, uy = along * ay + side * across * ax;
            c = c + chrome({ux * 0.7, uy * 0.7, 0.7}) * 0.5;
        }
        out += "      <stop offset=\"" + num(t) + "\" stop-color=\"" + hex(c) + "\"/>\n";
    }
    out += "    </linearGradient>\n  </defs>\n";
    const double handX = cx + 8.5 * std::sin(2 * kPi / 3), handY = cy - 8.5 * std::cos(2 * kPi / 3);
    const double arcX = cx + 8 * std::sin(2 * kPi / 3), arcY = cy - 8 * std::cos(2 * kPi / 3);
    out += "  <rect x=\"14.5\" y=\"5\" width=\"3\" height=\"3\" fill=\"" + hex({120, 126, 138}) + "\"/>\n";
    out += "  <rect x=\"12.8\" y=\"1.8\" width=\"6.4\" height=\"4.8\" rx=\"0.8\" fill=\"url(#crown)\"/>\n";
    out += "  <circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"13\" fill=\"" + hex({40, 44, 52}) + "\"/>\n";
    out += "  <circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"12.2\" fill=\"url(#bezel)\"/>\n";
    out += "  <circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"10.5\" fill=\"" + hex({250, 251, 253}) + "\"/>\n";
    out += "  <path d=\"M" + num(cx) + " " + num(cy) + "V" + num(cy - 8) + "A8 8 0 0 1 " + num(arcX) + " " + num(arcY)
         + "Z\" fill=\"" + hex({108, 127, 157}) + "\"/>\n";
    out += "  <line x1=\"" + num(cx) + "\" y1=\"" + num(cy) + "\" x2=\"" + num(handX) + "\" y2=\"" + num(handY)
         + "\" stroke=\"#000000\" stroke-width=\"1.6\" stroke-linecap=\"round\"/>\n";
    out += "  <circle cx=\"" + num(cx) + "\" cy=\"" + num(cy - 8.8) + "\" r=\"1.3\" fill=\"" + hex({220, 0, 0}) + "\"/>\n";
    out += "</svg>\n";
    return out;
}

// The sizes of the application icon in the hicolor theme.
constexpr int kThemeIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// ---- the about picture: a snare drum and a pair of sticks ---------------------

QImage drawAbout()
{
    constexpr double dcx = 54, topY = 78, bottomY = 114, rx = 44, ry = 13;
    struct Stick {
        double ax, ay, bx, by;
    };
    const Stick sticks[2] = {{8, 42, 92, 72}, {104, 38, 26, 76}};
    return render(200, 140, 4, [&](double x, double y) {
        // Pale blue-grey ground with a soft floor shadow under the drum.
        Rgb c = mix(Rgb{238, 241, 247}, Rgb{203, 211, 227}, y / 140);
        c = c * (1 - 0.18 * (1 - smooth(0.6, 1.15, std::hypot((x - dcx - 6) / 62, (y - bottomY - 6) / 14))));
        // Faint rings travelling away from the drum.
        const double wave = std::hypot(x - dcx, (y - topY) * 1.6);
        if (x > dcx)
            c = c * (1 - 0.03 * std::pow(std::max(0.0, std::cos(wave / 9)), 8) * smooth(60, 80, wave)
                            * (1 - smooth(110, 190, wave)));

        const double ex = (x - dcx) / rx;
        const bool inShell = std::fabs(ex) <= 1 && y >= topY - ry * std::sqrt(std::max(0.0, 1 - ex * ex))
                          && y <= bottomY + ry * std::sqrt(std::max(0.0, 1 - ex * ex));
        if (inShell) {
            const double rim = ry * std::sqrt(std::max(0.0, 1 - ex * ex));
            const Vec3 n = {ex, 0, std::sqrt(std::max(0.0, 1 - ex * ex))};
            if (y <= topY + rim + 4.5 && y >= topY + rim - 0.5) {
                c = chrome(n);                        // top hoop
            } else if (y >= bottomY + rim - 4.5) {
                c = chrome(n);                        // bottom hoop
            } else {
                // Deep blue sparkle finish.
                const double diffuse = std::max(0.0, dot(n, kLight));
                c = Rgb{34, 62, 128} * (0.45 + 0.75 * diffuse);
                if (hashNoise(int(x * 2), int(y * 2), 21) > 0.93)
                    c = c + Rgb{70, 80, 100} * diffuse;
                // Lugs with their tension rods.
                for (int k = 0; k < 6; ++k) {
                    const double a = (k + 0.5) * kPi / 6 - kPi / 2;
                    const double lx = dcx + rx * std::sin(a);
                    const double ly = (topY + bottomY) / 2 + ry * std::cos(a);
                    if (std::fabs(x - lx) < 2.2 && std::fabs(y - ly) < 6)
                        c = chrome({std::sin(a) * 0.8 + (x - lx) / 3, 0, 0.6});
                    else if (std::fabs(x - lx) < 0.7 && y > ly - 14 && y < ly + 14)
                        c = chrome({std::sin(a) * 0.8, 0, 0.6}) * 0.9;
                }
            }
        }
        // Top head: coated, seen at an angle.
        const double head = std::hypot(ex, (y - topY) / ry);
        if (head <= 1) {
            c = Rgb{234, 237, 243} * (0.93 + 0.07 * clamp01(1 - (x - dcx + (y - topY) * 2) / 80));
            c = c + Rgb{1, 1, 1} * (valueNoise(x, y, 2.5, 5) * 2.5);
            c = mix(c, Rgb{150, 158, 172}, smooth(0.86, 1.0, head));
        }
        // The sticks, lying across the drum.
        for (const Stick& s : sticks) {
            const double dx = s.bx - s.ax, dy = s.by - s.ay;
            const double len = std::hypot(dx, dy);
            const double along = ((x - s.ax) * dx + (y - s.ay) * dy) / len;
            const double t = clamp01(along / len);
            const double across = ((x - s.ax) * -dy + (y - s.ay) * dx) / len;
            const double radius = 2.8 - 1.4 * smooth(0.55, 0.95, t);
            const double tip = std::hypot(along - len, across * 1.4) - 2.6;
            const double body = (t > 0 && t < 1) ? std::fabs(across) - radius : 1e9;
            const double d = std::min(body, tip);
            if (d <= 0.5) {
                const double u = std::clamp(across / std::max(radius, 1.0), -1.0, 1.0);
                const double shade = 0.65 + 0.45 * std::sqrt(std::max(0.0, 1 - u * u)) - 0.2 * u;
                const Rgb wood = (tip < body ? Rgb{236, 216, 176} : Rgb{214, 182, 128}) * shade;
                c = mix(c, wood, 1 - smooth(-0.5, 0.5, d));
            }
        }
        return c;
    });
}

// ---- the level meter's tube --------------------------------------------------

constexpr int kTubeW = 13, kTubeH = 257;

// Colour of the tube at column x, row y (row 0 at the top). The glass is
// darker at its edges, with a bright reflection in columns 2 to 5.
Rgb tubePixel(int x, int y, bool lit)
{
    const double t = y / double(kTubeH - 1);
    Rgb base;
    Rgb highlight;
    if (lit) {
        const Rgb top{131, 165, 219}, deep{71, 122, 202}, bottom{86, 133, 206};
        constexpr double deepest = 0.58;
        base = t < deepest ? mix(top, deep, smooth(0, deepest, t)) : mix(deep, bottom, smooth(deepest, 1, t));
        highlight = {33, 24, 10};
    } else {
        const Rgb top{48, 64, 69}, slate{17, 36, 43};
        base = mix(top, slate, smooth(0, 0.5, t));
        highlight = {38, 34, 33};
    }
    static constexpr double edge[kTubeW] = {0.78, 0.9, 0.97, 1, 1, 1, 1, 1, 0.99, 0.97, 0.93, 0.86, 0.76};
    static constexpr double shine[kTubeW] = {0, 0, 0.5, 0.9, 1.0, 0.55, 0, 0, 0, 0, 0, 0, 0};
    return base * edge[x] + highlight * shine[x];
}

QByteArray tubeDib(bool lit)
{
    constexpr int stride = (kTubeW * 3 + 3) / 4 * 4;
    QByteArray bytes(40 + stride * kTubeH + 2, '\0');
    auto put = [&](int at, std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = char((v >> (8 * i)) & 255);
    };
    put(0, 40, 4);
    put(4, kTubeW, 4);
    put(8, kTubeH, 4);
    put(12, 1, 2);
    put(14, 24, 2);
    put(20, stride * kTubeH, 4);
    for (int y = 0; y < kTubeH; ++y) {
        const int row = 40 + (kTubeH - 1 - y) * stride;
        for (int x = 0; x < kTubeW; ++x) {
            const Rgb c = tubePixel(x, y, lit);
            bytes[row + x * 3] = char(toByte(c.b));
            bytes[row + x * 3 + 1] = char(toByte(c.g));
            bytes[row + x * 3 + 2] = char(toByte(c.r));
        }
    }
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool writePng(const QString& path, const QImage& img)
{
    return img.save(path, "PNG");
}

bool writeThemeIcons(const QString& dir)
{
    if (!QDir().mkpath(dir))
        return false;
    for (int size : kThemeIconSizes)
        if (!writePng(QStringLiteral("%1/tempovaro-%2.png").arg(dir).arg(size), drawIconAt(size)))
            return false;
    return writeFile(dir + "/tempovaro.svg", iconSvg());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "make-artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = writePng(dir + "/background.png", drawBackground().convertToFormat(QImage::Format_RGB888))
                 && writePng(dir + "/stopwatch.png", drawStopwatch().convertToFormat(QImage::Format_RGB888))
                 && writePng(dir + "/icon.png", drawIcon())
                 && writePng(dir + "/about.png", drawAbout().convertToFormat(QImage::Format_RGB888))
                 && writePng(dir + "/device_icon.png", drawDeviceIcon())
                 && writeFile(dir + "/barometer.dib", tubeDib(true))
                 && writeFile(dir + "/baro_off.dib", tubeDib(false))
                 && writeThemeIcons(dir + "/icons");
    if (!ok) {
        std::fprintf(stderr, "make-artwork: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
