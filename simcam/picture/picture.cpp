// The simulated camera's test picture.
//
// The scene (what the "sensor" sees) is colour bars scrolling sideways over
// the upper two thirds, a grey ramp over the lower third and an orientation
// block with a large "F" in it, left of centre in the upper half. Exposure
// and gains scale the scene's brightness; FLIP and MIRROR turn the scene
// over. On top, unturned and at full brightness: a text box in the top left
// corner (frame number, frame size, exposure, gains) and, when the LED is on,
// a green dot in the top right corner. PRIVACY makes the frame black.
//
// Every region of the scene whose rows are alike is drawn once and copied
// down, so a frame costs little more than one pass of memcpy over it.
#include "picture.h"

#include <string.h>

namespace {

// Scene colours stay at three quarters of full scale so that gain has room
// to brighten them; the orientation block is lighter than anything else in
// the scene.
const BYTE kBarLevel = 191;
const BYTE kBlockLevel = 235;
const LONG kNominalExposure = 284;  // 28.4 ms: brightness 1.0

// Colour bars, left to right, as {blue, green, red} (DIB byte order).
const BYTE kBars[8][3] = {{kBarLevel, kBarLevel, kBarLevel},
                          {0, kBarLevel, kBarLevel},
                          {kBarLevel, kBarLevel, 0},
                          {0, kBarLevel, 0},
                          {kBarLevel, 0, kBarLevel},
                          {0, 0, kBarLevel},
                          {kBarLevel, 0, 0},
                          {0, 0, 0}};

const BYTE kWhite[3] = {255, 255, 255};
const BYTE kBlack[3] = {0, 0, 0};
const BYTE kLedColour[3] = {48, 255, 48};

// A 5x7 font: seven rows per glyph, bit 4 is the leftmost column.
struct Glyph {
    char ch;
    BYTE rows[7];
};

const Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
};

const BYTE *GlyphRows(char ch)
{
    for (size_t i = 0; i < sizeof(kFont) / sizeof(kFont[0]); ++i)
        if (kFont[i].ch == ch)
            return kFont[i].rows;
    return NULL;  // a space, or a character the font lacks
}

LONG Min(LONG a, LONG b)
{
    return a < b ? a : b;
}
LONG Max(LONG a, LONG b)
{
    return a > b ? a : b;
}

// The control's current value; its factory default when the record has no
// such control.
LONG ControlValue(const SimDriverState &camera, ULONG id)
{
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (camera.controls[i].id == id)
            return camera.controls[i].value;
    return CameraControlFactoryDefault(id);
}

// What the settings make of the picture.
struct Exposure {
    bool automatic;
    LONG tenthsOfMs;  // exposure time in 0.1 ms (when not automatic)
    bool autoGain;
    double analogGain;
    double digitalGain;
    double brightness;  // 1.0 at the factory settings
};

Exposure ExposureOf(const SimDriverState &camera)
{
    Exposure e;
    e.automatic = ControlValue(camera, AEC) != 0;
    if (ControlValue(camera, EXPOSURE2CTRL) != 0) {
        LONG index = Min(Max(ControlValue(camera, EXPOSURE2VAL), 0), SHUTTER_COUNT - 1);
        e.tenthsOfMs = ShutterMicroseconds[index] / 100;
    } else {
        e.tenthsOfMs = Max(ControlValue(camera, EXPOSURE), 0);
    }
    e.autoGain = ControlValue(camera, A_AUTOGAIN) != 0;
    e.analogGain = e.autoGain ? 1.0 : AnalogGainFactor(ControlValue(camera, A_GAIN));
    e.digitalGain = DigitalGainFactor(ControlValue(camera, D_GAIN));
    if (e.analogGain < 0)
        e.analogGain = 0;
    if (e.digitalGain < 0)
        e.digitalGain = 0;
    const double exposure =
        e.automatic ? 1.0 : static_cast<double>(e.tenthsOfMs) / kNominalExposure;
    e.brightness = exposure * e.analogGain * e.digitalGain;
    return e;
}

// The frame being drawn. Display coordinates: x to the right, y downwards
// from the top row of the picture as shown.
struct Frame {
    BYTE *bits;
    LONG width;
    LONG height;
    size_t stride;
    bool flip;
    bool mirror;
    BYTE level[256];  // brightness curve of the scene

    BYTE *Row(LONG y) const { return bits + static_cast<size_t>(height - 1 - y) * stride; }

    // Fills [x0, x1) x [y0, y1) of the display, clipped to the frame.
    void Fill(LONG x0, LONG y0, LONG x1, LONG y1, const BYTE colour[3]) const
    {
        x0 = Max(x0, 0);
        y0 = Max(y0, 0);
        x1 = Min(x1, width);
        y1 = Min(y1, height);
        for (LONG y = y0; y < y1; ++y) {
            BYTE *p = Row(y) + static_cast<size_t>(x0) * 3;
            for (LONG x = x0; x < x1; ++x, p += 3) {
                p[0] = colour[0];
                p[1] = colour[1];
                p[2] = colour[2];
            }
        }
    }

    // Fills a rectangle given in scene coordinates, turned by flip and
    // mirror and darkened or brightened like the rest of the scene.
    void FillScene(LONG x0, LONG y0, LONG x1, LONG y1, const BYTE colour[3]) const
    {
        const BYTE lit[3] = {level[colour[0]], level[colour[1]], level[colour[2]]};
        if (mirror) {
            const LONG t = x0;
            x0 = width - x1;
            x1 = width - t;
        }
        if (flip) {
            const LONG t = y0;
            y0 = height - y1;
            y1 = height - t;
        }
        Fill(x0, y0, x1, y1, lit);
    }

    // Draws scene rows [y0, y1): row y0's pixels come from pixel(x), every
    // further row is a copy of the first.
    template <typename Pixel> void SceneBand(LONG y0, LONG y1, Pixel pixel) const
    {
        if (y0 >= y1)
            return;
        const LONG top = flip ? height - y1 : y0;
        const LONG bottom = flip ? height - y0 : y1;
        BYTE *first = Row(top);
        BYTE *p = first;
        for (LONG x = 0; x < width; ++x, p += 3) {
            BYTE c[3];
            pixel(mirror ? width - 1 - x : x, c);
            p[0] = level[c[0]];
            p[1] = level[c[1]];
            p[2] = level[c[2]];
        }
        const size_t bytes = static_cast<size_t>(width) * 3;
        for (LONG y = top + 1; y < bottom; ++y)
            memcpy(Row(y), first, bytes);
    }

    // One line of text at display (x, y), one font pixel = scale pixels.
    void Text(LONG x, LONG y, LONG scale, const char *text, const BYTE colour[3]) const
    {
        for (; *text && x < width; ++text, x += 6 * scale) {
            const BYTE *rows = GlyphRows(*text);
            if (!rows)
                continue;
            for (LONG r = 0; r < 7; ++r)
                for (LONG c = 0; c < 5; ++c)
                    if (rows[r] & (0x10 >> c))
                        Fill(x + c * scale, y + r * scale, x + (c + 1) * scale, y + (r + 1) * scale,
                             colour);
        }
    }

    // A glyph drawn into the scene, turned with it.
    void SceneGlyph(LONG x, LONG y, LONG scale, char ch, const BYTE colour[3]) const
    {
        const BYTE *rows = GlyphRows(ch);
        for (LONG r = 0; rows && r < 7; ++r)
            for (LONG c = 0; c < 5; ++c)
                if (rows[r] & (0x10 >> c))
                    FillScene(x + c * scale, y + r * scale, x + (c + 1) * scale,
                              y + (r + 1) * scale, colour);
    }
};

// Small text builder on a fixed buffer; drops what does not fit.
struct Line {
    char text[32];
    size_t length;

    Line() : length(0) { text[0] = 0; }
    Line &Add(const char *s)
    {
        while (*s && length + 1 < sizeof(text))
            text[length++] = *s++;
        text[length] = 0;
        return *this;
    }
    Line &Number(ULONG v)
    {
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 11);
        while (n > 0 && length + 1 < sizeof(text))
            text[length++] = digits[--n];
        text[length] = 0;
        return *this;
    }
    // A non-negative number with the given count of decimals.
    Line &Fixed(double value, int decimals)
    {
        ULONG scale = 1;
        for (int i = 0; i < decimals; ++i)
            scale *= 10;
        if (value < 0)
            value = 0;
        if (value > 4.0e9 / scale)
            value = 4.0e9 / scale;
        const ULONG v = static_cast<ULONG>(value * scale + 0.5);
        Number(v / scale);
        if (decimals > 0) {
            Add(".");
            ULONG frac = v % scale;
            for (ULONG d = scale / 10; d > 0; d /= 10) {
                const char digit[2] = {static_cast<char>('0' + frac / d % 10), 0};
                Add(digit);
            }
        }
        return *this;
    }
};

// The scene: colour bars moving left by about a 160th of the width per
// frame, a grey ramp below them, and the orientation block.
void DrawScene(Frame &f, ULONG frameNumber)
{
    const LONG width = f.width, height = f.height;
    const LONG barsHeight = height * 2 / 3;
    const ULONGLONG step = static_cast<ULONGLONG>(Max(1, width / 160));
    const ULONGLONG offset = frameNumber * step % static_cast<ULONGLONG>(width);
    f.SceneBand(0, barsHeight, [&](LONG x, BYTE c[3]) {
        const ULONGLONG shifted = (static_cast<ULONGLONG>(x) + offset) % width;
        const BYTE *bar = kBars[shifted * 8 / width];
        c[0] = bar[0];
        c[1] = bar[1];
        c[2] = bar[2];
    });

    // Grey ramp from black to the bar level.
    f.SceneBand(barsHeight, height, [&](LONG x, BYTE c[3]) {
        const BYTE v =
            width > 1 ? static_cast<BYTE>(static_cast<ULONGLONG>(x) * kBarLevel / (width - 1)) : 0;
        c[0] = c[1] = c[2] = v;
    });

    // Orientation block: a light square with a dark "F", centred at a
    // quarter of the width and a third of the height.
    const LONG side = Max(1, Min(width, height) / 5);
    const LONG bx = width * 5 / 16 - side / 2;
    const LONG by = height / 3 - side / 2;
    const BYTE block[3] = {kBlockLevel, kBlockLevel, kBlockLevel};
    f.FillScene(bx, by, bx + side, by + side, block);
    const LONG glyphScale = side / 9;
    if (glyphScale > 0)
        f.SceneGlyph(bx + (side - 5 * glyphScale) / 2, by + glyphScale, glyphScale, 'F', kBlack);
}

// Text box: frame number, size, exposure and gains.
void DrawTextBox(Frame &f, ULONG frameNumber, const Exposure &e)
{
    const LONG scale = Max(1, Min(f.width / 320, f.height / 240));
    Line lines[4];
    lines[0].Add("FRAME ").Number(frameNumber);
    lines[1].Number(static_cast<ULONG>(f.width)).Add("x").Number(static_cast<ULONG>(f.height));
    lines[2].Add("EXP ");
    if (e.automatic)
        lines[2].Add("AUTO");
    else
        lines[2].Fixed(e.tenthsOfMs / 10.0, 1).Add("MS");
    lines[3].Add("AG ");
    if (e.autoGain)
        lines[3].Add("AUTO");
    else
        lines[3].Fixed(e.analogGain, 2);
    lines[3].Add(" DG ").Fixed(e.digitalGain, 2);
    size_t longest = 0;
    for (int i = 0; i < 4; ++i)
        longest = lines[i].length > longest ? lines[i].length : longest;
    const LONG margin = 4 * scale;
    const LONG lineHeight = 9 * scale;
    f.Fill(margin - scale, margin - scale, margin + static_cast<LONG>(longest) * 6 * scale,
           margin + 4 * lineHeight, kBlack);
    for (int i = 0; i < 4; ++i)
        f.Text(margin, margin + i * lineHeight, scale, lines[i].text, kWhite);
}

// LED: a green dot on a dark square in the top right corner.
void DrawLed(Frame &f)
{
    const LONG r = Max(1, Min(f.width, f.height) / 32);
    const LONG cx = f.width - 3 * r;
    const LONG cy = 3 * r;
    f.Fill(cx - 2 * r, cy - 2 * r, cx + 2 * r, cy + 2 * r, kBlack);
    for (LONG dy = -r; dy <= r; ++dy) {
        LONG dx = 0;
        while ((dx + 1) * (dx + 1) + dy * dy <= r * r)
            ++dx;
        f.Fill(cx - dx, cy + dy, cx + dx + 1, cy + dy + 1, kLedColour);
    }
}

}  // namespace

void SimRenderFrame(BYTE *bits, LONG width, LONG height, ULONG frameNumber,
                    const SimDriverState &camera)
{
    if (!bits || width <= 0 || height <= 0)
        return;

    Frame f;
    f.bits = bits;
    f.width = width;
    f.height = height;
    f.stride = SimFrameStride(width);
    f.flip = ControlValue(camera, FLIP) != 0;
    f.mirror = ControlValue(camera, MIRROR) != 0;

    const size_t rowBytes = static_cast<size_t>(width) * 3;
    if (ControlValue(camera, PRIVACY) != 0) {
        for (LONG y = 0; y < height; ++y)
            memset(f.Row(y), 0, rowBytes);
        return;
    }

    const Exposure e = ExposureOf(camera);
    for (int v = 0; v < 256; ++v) {
        const double lit = v * e.brightness + 0.5;
        f.level[v] = static_cast<BYTE>(lit >= 255.0 ? 255 : lit);
    }
    DrawScene(f, frameNumber);
    DrawTextBox(f, frameNumber, e);
    if (ControlValue(camera, LEDCTRL) != 0)
        DrawLed(f);
}
