// The simulated camera's picture: what each setting does to the pixels, and
// that drawing stays inside the frame's bytes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "picture.h"
#include "simdriver.h"

namespace {

const BYTE kGuard = 0xA5;
const size_t kGuardBytes = 64;

using Rgb = std::array<BYTE, 3>;  // red, green, blue

// One rendered frame with guard bytes after its end.
struct Picture {
    LONG width = 0;
    LONG height = 0;
    std::vector<BYTE> bytes;

    size_t Stride() const { return SimFrameStride(width); }
    size_t Size() const { return SimFrameBytes(width, height); }
    // Display coordinates: y = 0 is the top row as shown.
    Rgb At(LONG x, LONG y) const
    {
        const BYTE *p = &bytes[(height - 1 - y) * Stride() + x * 3];
        return Rgb{{p[2], p[1], p[0]}};
    }
    // The row padding and the guard bytes after the frame are untouched.
    bool Intact() const
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            if ((i >= Size() || i % Stride() >= static_cast<size_t>(width) * 3) &&
                bytes[i] != kGuard)
                return false;
        return true;
    }
    // Mean of all channels over display rows [y0, y1).
    double Mean(LONG y0, LONG y1) const
    {
        double sum = 0;
        for (LONG y = y0; y < y1; ++y)
            for (LONG x = 0; x < width; ++x) {
                const Rgb c = At(x, y);
                sum += c[0] + c[1] + c[2];
            }
        return sum / (3.0 * width * (y1 - y0));
    }
    // Bounding box of the pixels of one colour; false when there are none.
    bool Find(Rgb colour, RECT *box) const
    {
        *box = RECT{LONG_MAX, LONG_MAX, -1, -1};
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x)
                if (At(x, y) == colour)
                    *box = RECT{std::min(box->left, x), std::min(box->top, y),
                                std::max(box->right, x), std::max(box->bottom, y)};
        return box->right >= 0;
    }
};

const Rgb kBlock = {235, 235, 235};
const Rgb kLed = {48, 255, 48};

class PictureTest : public ::testing::Test {
protected:
    void Set(ULONG id, LONG value) { m_driver.SetValue(id, value); }
    Picture Render(LONG width, LONG height, ULONG frame = 0,
                   const SimDriverState *state = NULL) const
    {
        Picture p{width, height,
                  std::vector<BYTE>(SimFrameBytes(width, height) + kGuardBytes, kGuard)};
        SimRenderFrame(p.bytes.data(), width, height, frame, state ? *state : *m_state);
        return p;
    }
    // Mean brightness of the lower half (scene only, below the text box)
    // with the given settings made.
    double Brightness(std::initializer_list<std::pair<ULONG, LONG>> settings = {})
    {
        for (const auto &s : settings)
            Set(s.first, s.second);
        return Render(320, 240, 7).Mean(120, 240);
    }

    std::unique_ptr<SimDriverState> m_state{new SimDriverState()};
    SimDriver m_driver{m_state.get()};
};

TEST_F(PictureTest, FlipAndMirrorTurnTheSceneButNotTheText)
{
    const LONG w = 320, h = 240;
    const Picture plain = Render(w, h, 3);
    RECT box;
    ASSERT_TRUE(plain.Find(kBlock, &box));
    EXPECT_LT(box.right, w / 2);  // the light square: left of centre, in the upper half
    EXPECT_LT(box.bottom, h / 2);
    EXPECT_GT(box.right - box.left, 20);
    for (int turn = 1; turn <= 3; ++turn) {
        const bool flip = turn & 1, mirror = turn & 2;
        Set(FLIP, flip);
        Set(MIRROR, mirror);
        const Picture turned = Render(w, h, 3);
        // Below and above the text box the whole scene is turned.
        for (LONG y = 50; y < h - 50; ++y)
            for (LONG x = 0; x < w; ++x)
                ASSERT_EQ(plain.At(mirror ? w - 1 - x : x, flip ? h - 1 - y : y), turned.At(x, y))
                    << turn << ": " << x << "," << y;
        // The text box is where it was.
        for (LONG y = 3; y < 40; ++y)
            for (LONG x = 3; x < 60; ++x)
                ASSERT_EQ(plain.At(x, y), turned.At(x, y)) << turn << ": " << x << "," << y;
    }
}

TEST_F(PictureTest, PrivacySendsBlackAndLeavesPadding)
{
    Set(PRIVACY, 1);
    Set(LEDCTRL, 1);
    for (LONG w : {320, 321, 322, 323}) {
        const Picture p = Render(w, 17, 9);
        EXPECT_EQ(0.0, p.Mean(0, 17)) << w;  // every channel of every pixel
        EXPECT_TRUE(p.Intact()) << w;
    }
    Set(PRIVACY, 0);
    EXPECT_GT(Render(320, 17, 9).Mean(0, 17), 10.0);
}

::testing::AssertionResult Increasing(const std::vector<double> &v)
{
    for (size_t i = 1; i < v.size(); ++i)
        if (!(v[i - 1] < v[i]))
            return ::testing::AssertionFailure()
                   << "step " << i << ": " << v[i - 1] << " then " << v[i];
    return ::testing::AssertionSuccess();
}

TEST_F(PictureTest, ExposureAndGainsOrderBrightness)
{
    const double nominal = Brightness({{AEC, 0}});
    const double shortest = Brightness({{EXPOSURE, 1}});
    EXPECT_LT(shortest, 1.0);
    EXPECT_TRUE(Increasing(
        {shortest, Brightness({{EXPOSURE, 100}}), nominal, Brightness({{EXPOSURE, 1000}})}));
    // With AEC on the exposure value does not matter.
    EXPECT_DOUBLE_EQ(nominal, Brightness({{AEC, 1}}));
    EXPECT_DOUBLE_EQ(nominal, Brightness({{EXPOSURE, 3330}}));

    // The shutter list time (1, 20, 100 ms), with AEC off; past the list its last entry.
    Brightness({{AEC, 0}, {EXPOSURE, 284}, {EXPOSURE2CTRL, 1}});
    const double hundredMs = Brightness({{EXPOSURE2VAL, 9}});
    EXPECT_TRUE(Increasing(
        {Brightness({{EXPOSURE2VAL, 3}}), Brightness({{EXPOSURE2VAL, 7}}), nominal, hundredMs}));
    EXPECT_DOUBLE_EQ(hundredMs, Brightness({{EXPOSURE2VAL, 99}}));
    EXPECT_DOUBLE_EQ(nominal, Brightness({{EXPOSURE2CTRL, 0}}));

    // Analog gain counts only with automatic gain off; digital gain in
    // quarter steps, 4 is 1.0.
    EXPECT_DOUBLE_EQ(nominal, Brightness({{A_GAIN, 32}}));
    const double aHigh = Brightness({{A_AUTOGAIN, 0}});
    EXPECT_TRUE(Increasing({Brightness({{A_GAIN, 1}}), Brightness({{A_GAIN, 16}}), aHigh}));
    EXPECT_DOUBLE_EQ(nominal, Brightness({{A_GAIN, 1}}));
    EXPECT_TRUE(Increasing({Brightness({{D_GAIN, 2}}), nominal, Brightness({{D_GAIN, 8}})}));
}

// Over the top rows of two pictures of one width, more than five pixels
// differ, all inside the text box (x below 120) in rows [y0, y1).
::testing::AssertionResult DifferOnlyInText(const Picture &a, const Picture &b, LONG rows, LONG y0,
                                            LONG y1)
{
    LONG changed = 0;
    for (LONG y = 0; y < rows; ++y)
        for (LONG x = 0; x < a.width; ++x)
            if (a.At(x, y) != b.At(x, y)) {
                if (x >= 120 || y < y0 || y >= y1)
                    return ::testing::AssertionFailure() << "differs at " << x << "," << y;
                ++changed;
            }
    if (changed <= 5)
        return ::testing::AssertionFailure() << changed << " pixels differ";
    return ::testing::AssertionSuccess();
}

TEST_F(PictureTest, TheTextShowsFrameNumberAndSize)
{
    // The bars move a 160th of the width per frame: frames 5 and 165 show the
    // same scene, so only the frame number (first line) tells them apart.
    const Picture a = Render(320, 240, 5), next = Render(320, 240, 6);
    bool moved = false;
    for (LONG x = 0; x < 320 && !moved; ++x)
        moved = a.At(x, 100) != next.At(x, 100);
    EXPECT_TRUE(moved);
    EXPECT_TRUE(DifferOnlyInText(a, Render(320, 240, 165), 240, 0, 14));
    // The size is the second line.
    EXPECT_TRUE(DifferOnlyInText(a, Render(320, 232, 5), 30, 13, 30));

    // Larger frames get larger text.
    RECT large, small;
    ASSERT_TRUE(Render(1280, 720, 4).Find(Rgb{{255, 255, 255}}, &large));
    ASSERT_TRUE(a.Find(Rgb{{255, 255, 255}}, &small));
    EXPECT_GT(large.bottom - large.top, 2 * (small.bottom - small.top));
}

TEST_F(PictureTest, LedShowsAsAGreenDot)
{
    for (LONG w : {320, 640}) {
        const LONG h = w * 3 / 4;
        Picture off = Render(w, h, 2);
        RECT box;
        EXPECT_FALSE(off.Find(kLed, &box));
        Set(LEDCTRL, 1);
        Set(FLIP, 1);  // the dot stays in its corner
        Picture on = Render(w, h, 2);
        ASSERT_TRUE(on.Find(kLed, &box));
        EXPECT_GT(box.left, w * 3 / 4);
        EXPECT_LT(box.bottom, h / 4);
        EXPECT_GE(box.right - box.left, 2);
        Set(LEDCTRL, 0);
        Set(FLIP, 0);
    }
}

TEST_F(PictureTest, StaysInsideTheFrameForAnySize)
{
    Set(LEDCTRL, 1);
    Set(FLIP, 1);
    Set(MIRROR, 1);
    Set(AEC, 0);
    Set(EXPOSURE, 3330);
    for (LONG w = 1; w <= 13; ++w)
        for (LONG h = 1; h <= 9; ++h) {
            Picture p = Render(w, h, 0xFFFFFFFFu);
            ASSERT_TRUE(p.Intact()) << w << "x" << h;
        }
    for (LONG w : {161, 479, 641, 1279})
        EXPECT_TRUE(Render(w, 37, 123456789).Intact()) << w;

    // Nothing at all for an empty or negative size, or no buffer.
    std::vector<BYTE> buffer(64, kGuard);
    for (SIZE size : {SIZE{0, 10}, SIZE{10, 0}, SIZE{-4, 3}, SIZE{3, -4}})
        SimRenderFrame(buffer.data(), size.cx, size.cy, 1, *m_state);
    EXPECT_EQ(std::vector<BYTE>(64, kGuard), buffer);
    SimRenderFrame(NULL, 8, 8, 1, *m_state);
}

TEST_F(PictureTest, RecordWithoutControlsDrawsTheFactoryPicture)
{
    std::unique_ptr<SimDriverState> empty(new SimDriverState());
    EXPECT_TRUE(Render(320, 240, 11, empty.get()).bytes == Render(320, 240, 11).bytes);
}

}  // namespace
