// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/ScanPage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>

#include "base/ByteOrder.h"

namespace tessaro::bench {

namespace {

constexpr float kPi = 3.14159265f;

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {  // splitmix64: small, fast and the same on every machine
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  float Uniform(float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(Next() >> 40) / static_cast<float>(1u << 24);
  }
  int Int(int lo, int hi) {  // lo to hi, both included
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(float p) { return Uniform(0, 1) < p; }

 private:
  uint64_t state_;
};

struct Colour {
  float b, g, r;
};

Colour Mix(Colour a, Colour b, float t) {
  return {a.b + (b.b - a.b) * t, a.g + (b.g - a.g) * t, a.r + (b.r - a.r) * t};
}

uint8_t Clamp8(float v) { return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f); }

struct Rect {
  int x0, y0, x1, y1;
  int Width() const { return x1 - x0; }
  int Height() const { return y1 - y0; }
};

void Put(PageImage& page, int x, int y, Colour c) {
  uint8_t* p = page.Row(y) + static_cast<size_t>(x) * 3;
  p[0] = Clamp8(c.b);
  p[1] = Clamp8(c.g);
  p[2] = Clamp8(c.r);
}

void FillRect(PageImage& page, Rect r, Colour c) {
  r.x0 = std::max(r.x0, 0);
  r.y0 = std::max(r.y0, 0);
  r.x1 = std::min(r.x1, page.width);
  r.y1 = std::min(r.y1, page.height);
  for (int y = r.y0; y < r.y1; ++y)
    for (int x = r.x0; x < r.x1; ++x) Put(page, x, y, c);
}

// Random values on a coarse grid, smoothly interpolated: soft shapes and uneven tones.
class ValueNoise {
 public:
  ValueNoise(Rng& rng, int cells)
      : cells_(cells), values_(static_cast<size_t>((cells + 1) * (cells + 1))) {
    for (float& v : values_) v = rng.Uniform(0, 1);
  }
  float At(float u, float v) const {  // u, v from 0 to 1
    const float gx = std::clamp(u, 0.0f, 1.0f) * static_cast<float>(cells_);
    const float gy = std::clamp(v, 0.0f, 1.0f) * static_cast<float>(cells_);
    const int ix = std::min(static_cast<int>(gx), cells_ - 1);
    const int iy = std::min(static_cast<int>(gy), cells_ - 1);
    const float fx = Smooth(gx - static_cast<float>(ix));
    const float fy = Smooth(gy - static_cast<float>(iy));
    const float top = Lerp(Value(ix, iy), Value(ix + 1, iy), fx);
    const float bottom = Lerp(Value(ix, iy + 1), Value(ix + 1, iy + 1), fx);
    return Lerp(top, bottom, fy);
  }

 private:
  static float Smooth(float t) { return t * t * (3 - 2 * t); }
  static float Lerp(float a, float b, float t) { return a + (b - a) * t; }
  float Value(int x, int y) const { return values_[static_cast<size_t>(y * (cells_ + 1) + x)]; }
  int cells_;
  std::vector<float> values_;
};

// A photo-like field: a few octaves of noise through a colour gradient, lit from one side.
class PhotoField {
 public:
  explicit PhotoField(Rng& rng) : coarse_(rng, 3), middle_(rng, 9), fine_(rng, 31) {
    for (Colour& c : palette_)
      c = {rng.Uniform(20, 235), rng.Uniform(20, 235), rng.Uniform(20, 235)};
    light_ = rng.Uniform(0, 1);
  }
  Colour At(float u, float v) const {
    const float t = std::clamp(
        0.55f * coarse_.At(u, v) + 0.3f * middle_.At(u, v) + 0.15f * fine_.At(u, v), 0.0f, 1.0f);
    const Colour c =
        t < 0.5f ? Mix(palette_[0], palette_[1], t * 2) : Mix(palette_[1], palette_[2], t * 2 - 1);
    const float shade = 0.7f + 0.3f * (light_ * u + (1 - light_) * (1 - v));
    return {c.b * shade, c.g * shade, c.r * shade};
  }

 private:
  ValueNoise coarse_, middle_, fine_;
  std::array<Colour, 3> palette_{};
  float light_ = 0;
};

// Printed glyphs on a 5 x 9 grid: rows 0-1 ascender, 2-6 x-height, 7-8 descender.
class GlyphSet {
 public:
  static constexpr int kColumns = 5;
  static constexpr int kRows = 9;
  explicit GlyphSet(Rng& rng) {
    for (auto& g : glyphs_) {
      g.fill(0);
      const int kind = rng.Int(0, 9);  // mostly x-height letters, some ascenders and descenders
      const int top = kind < 3 ? 0 : 2;
      const int bottom = kind == 9 ? 8 : 6;
      const int stem = rng.Chance(0.5f) ? 0 : 4;
      for (int y = top; y <= bottom; ++y) g[Index(stem, y)] = 1;
      for (int y = 2; y <= 6; ++y)
        for (int x = 0; x < kColumns; ++x)
          if (rng.Chance(0.35f)) g[Index(x, y)] = 1;
      for (int x = 0; x < kColumns; ++x)  // a bar at the top or bottom of the x-height
        if (rng.Chance(0.6f)) g[Index(x, rng.Chance(0.5f) ? 2 : 6)] = 1;
    }
  }
  bool Ink(int glyph, int x, int y) const {
    return glyphs_[static_cast<size_t>(glyph)][Index(x, y)] != 0;
  }
  static constexpr int kCount = 64;

 private:
  static size_t Index(int x, int y) { return static_cast<size_t>(y * kColumns + x); }
  std::array<std::array<uint8_t, kColumns * kRows>, kCount> glyphs_{};
};

struct TextStyle {
  int fontPx;
  Colour ink;
  int maxLines = 1 << 20;
};

void PaintText(PageImage& page, Rect area, const TextStyle& style, const GlyphSet& glyphs,
               Rng& rng) {
  const int cell = std::max(2, style.fontPx / GlyphSet::kRows);
  const int advance = cell * (GlyphSet::kColumns + 1);
  const int lineHeight = cell * GlyphSet::kRows * 3 / 2;
  int linesLeftInParagraph = rng.Int(3, 9);
  int lines = 0;
  for (int top = area.y0; top + cell * GlyphSet::kRows <= area.y1 && lines < style.maxLines;
       top += lineHeight, ++lines) {
    const bool lastOfParagraph = --linesLeftInParagraph == 0;
    const int right =
        lastOfParagraph
            ? area.x0 + static_cast<int>(rng.Uniform(0.2f, 0.8f) * static_cast<float>(area.Width()))
            : area.x1;
    int x = area.x0;
    while (true) {
      const int letters = rng.Int(1, 9);
      if (x + letters * advance > right) break;
      for (int l = 0; l < letters; ++l, x += advance) {
        const int glyph = rng.Int(0, GlyphSet::kCount - 1);
        const float tone = rng.Uniform(-12, 12);  // toner is never quite even
        const Colour ink{style.ink.b + tone, style.ink.g + tone, style.ink.r + tone};
        for (int gy = 0; gy < GlyphSet::kRows; ++gy)
          for (int gx = 0; gx < GlyphSet::kColumns; ++gx)
            if (glyphs.Ink(glyph, gx, gy))
              FillRect(page,
                       {x + gx * cell, top + gy * cell, x + (gx + 1) * cell, top + (gy + 1) * cell},
                       ink);
      }
      x += advance / 2 + cell;  // the space between words
    }
    if (lastOfParagraph) {
      top += lineHeight / 2;
      linesLeftInParagraph = rng.Int(3, 9);
    }
  }
}

void PaintPhoto(PageImage& page, Rect area, Rng& rng) {
  const PhotoField field(rng);
  for (int y = area.y0; y < area.y1; ++y)
    for (int x = area.x0; x < area.x1; ++x)
      Put(page, x, y,
          field.At(static_cast<float>(x - area.x0) / static_cast<float>(area.Width()),
                   static_cast<float>(y - area.y0) / static_cast<float>(area.Height())));
}

// A printed screen of dots at an angle; the coverage at a point follows `tone` (0 to 1).
class Screen {
 public:
  Screen(float angleDegrees, float periodPx) {
    const float a = angleDegrees * kPi / 180;
    cosA_ = std::cos(a) / periodPx;
    sinA_ = std::sin(a) / periodPx;
    for (size_t i = 0; i < cosTable_.size(); ++i)
      cosTable_[i] =
          std::cos(2 * kPi * static_cast<float>(i) / static_cast<float>(cosTable_.size()));
  }
  bool Covers(int x, int y, float tone) const {
    const float u = static_cast<float>(x) * cosA_ - static_cast<float>(y) * sinA_;
    const float v = static_cast<float>(x) * sinA_ + static_cast<float>(y) * cosA_;
    const float spot = 0.5f - (Cos(u) + Cos(v)) / 4;  // 0 at a dot's centre, 1 between dots
    return spot < tone;
  }

 private:
  float Cos(float turns) const {
    const float f = turns - std::floor(turns);
    return cosTable_[static_cast<size_t>(f * static_cast<float>(cosTable_.size())) &
                     (cosTable_.size() - 1)];
  }
  float cosA_, sinA_;
  std::array<float, 256> cosTable_{};
};

void PaintHalftone(PageImage& page, Rect area, bool colour, Rng& rng) {
  const PhotoField field(rng);
  const float period = 300.0f / rng.Uniform(65, 133);  // newspaper to magazine screens
  const std::array<Screen, 4> screens{Screen(15, period), Screen(75, period), Screen(0, period),
                                      Screen(45, period)};
  // Inks as the share of blue, green and red light each lets through.
  const std::array<Colour, 4> inks{Colour{0.94f, 0.68f, 0.0f}, Colour{0.55f, 0.0f, 0.93f},
                                   Colour{0.0f, 0.95f, 1.0f}, Colour{0.1f, 0.1f, 0.12f}};
  for (int y = area.y0; y < area.y1; ++y) {
    uint8_t* row = page.Row(y);
    for (int x = area.x0; x < area.x1; ++x) {
      const Colour c =
          field.At(static_cast<float>(x - area.x0) / static_cast<float>(area.Width()),
                   static_cast<float>(y - area.y0) / static_cast<float>(area.Height()));
      uint8_t* p = row + static_cast<size_t>(x) * 3;
      Colour light{static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
      if (colour) {
        const float k = 1 - std::max({c.b, c.g, c.r}) / 255;
        const float inkShare[4] = {1 - c.r / 255 - k, 1 - c.g / 255 - k, 1 - c.b / 255 - k, k};
        for (size_t s = 0; s < 4; ++s)
          if (screens[s].Covers(x, y, inkShare[s]))
            light = {light.b * inks[s].b, light.g * inks[s].g, light.r * inks[s].r};
      } else if (screens[3].Covers(x, y, 1 - (c.b + c.g + c.r) / 765)) {
        light = {light.b * inks[3].b, light.g * inks[3].g, light.r * inks[3].r};
      }
      p[0] = Clamp8(light.b);
      p[1] = Clamp8(light.g);
      p[2] = Clamp8(light.r);
    }
  }
}

void PaintTable(PageImage& page, Rect area, const GlyphSet& glyphs, Rng& rng) {
  const int rows = rng.Int(5, 14);
  const int columns = rng.Int(2, 5);
  const Colour line{40, 40, 40};
  for (int r = 0; r <= rows; ++r) {
    const int y = area.y0 + area.Height() * r / rows;
    FillRect(page, {area.x0, y - 1, area.x1, y + 2}, line);
  }
  for (int c = 0; c <= columns; ++c) {
    const int x = area.x0 + area.Width() * c / columns;
    FillRect(page, {x - 1, area.y0, x + 2, area.y1}, line);
  }
  const TextStyle style{30, {35, 30, 30}, 1};
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      if (rng.Chance(0.25f)) continue;  // empty fields of the form
      const Rect cellArea{area.x0 + area.Width() * c / columns + 14,
                          area.y0 + area.Height() * r / rows + 12,
                          area.x0 + area.Width() * (c + 1) / columns - 14,
                          area.y0 + area.Height() * (r + 1) / rows};
      PaintText(page, cellArea, style, glyphs, rng);
    }
}

void PaintBand(PageImage& page, Rect area, Rng& rng) {
  const Colour a{rng.Uniform(60, 230), rng.Uniform(60, 230), rng.Uniform(60, 230)};
  const Colour b{rng.Uniform(60, 230), rng.Uniform(60, 230), rng.Uniform(60, 230)};
  for (int y = area.y0; y < area.y1; ++y)
    for (int x = area.x0; x < area.x1; ++x)
      Put(page, x, y,
          Mix(a, b,
              static_cast<float>(x - area.x0 + y - area.y0) /
                  static_cast<float>(area.Width() + area.Height())));
}

void PaintPaper(PageImage& page, Rng& rng) {
  const ValueNoise uneven(rng, 7);
  const Colour paper{rng.Uniform(228, 240), rng.Uniform(236, 246), rng.Uniform(240, 250)};
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) {
      const float d = 8 * (uneven.At(static_cast<float>(x) / static_cast<float>(page.width),
                                     static_cast<float>(y) / static_cast<float>(page.height)) -
                           0.5f);
      Put(page, x, y, {paper.b + d, paper.g + d, paper.r + d});
    }
}

// The scanner's optics: a [1 2 1] blur across and down.
void Blur(PageImage& page) {
  const size_t stride = static_cast<size_t>(page.width) * 3;
  std::vector<uint8_t> above(stride), current(stride);
  for (int y = 0; y < page.height; ++y) {
    uint8_t* row = page.Row(y);
    for (size_t i = 3; i + 3 < stride; ++i)
      current[i] = static_cast<uint8_t>((row[i - 3] + 2 * row[i] + row[i + 3] + 2) / 4);
    std::copy(current.begin() + 3, current.end() - 3, row + 3);
  }
  std::copy(page.Row(0), page.Row(0) + stride, above.begin());
  for (int y = 1; y + 1 < page.height; ++y) {
    uint8_t* row = page.Row(y);
    const uint8_t* below = page.Row(y + 1);
    std::copy(row, row + stride, current.begin());
    for (size_t i = 0; i < stride; ++i)
      row[i] = static_cast<uint8_t>((above[i] + 2 * current[i] + below[i] + 2) / 4);
    above.swap(current);
  }
}

// Sensor noise per sample, and a faint fixed gain per sensor element (streaks down the page).
void AddNoise(PageImage& page, Rng& rng) {
  std::vector<float> gain(static_cast<size_t>(page.width));
  for (float& g : gain) g = rng.Uniform(0.99f, 1.01f);
  uint32_t state = static_cast<uint32_t>(rng.Next()) | 1u;
  for (int y = 0; y < page.height; ++y) {
    uint8_t* row = page.Row(y);
    for (int x = 0; x < page.width; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        state ^= state << 13;  // xorshift32: a cheap noise source for 26 million samples
        state ^= state >> 17;
        state ^= state << 5;
        const float noise = static_cast<float>(static_cast<int>(state & 7) +
                                               static_cast<int>((state >> 3) & 7) - 7);
        uint8_t& v = row[x * 3 + ch];
        v = Clamp8(static_cast<float>(v) * gain[static_cast<size_t>(x)] + noise * 0.6f);
      }
  }
}

enum class Kind { Heading, Text, SmallText, Photo, HalftoneGrey, HalftoneColour, Table, Band };

struct Block {
  Kind kind;
  float x0, y0, x1, y1;  // shares of the page's width and height
};

const std::vector<Block>& Layout(int layout) {
  using K = Kind;
  static const std::array<std::vector<Block>, kLayoutCount> layouts{{
      // a letter: much white paper
      {{K::Heading, .10f, .06f, .60f, .09f},
       {K::Text, .10f, .13f, .90f, .55f},
       {K::SmallText, .10f, .90f, .90f, .95f}},
      // two columns under a photo
      {{K::Heading, .08f, .05f, .92f, .09f},
       {K::Photo, .08f, .10f, .92f, .40f},
       {K::Text, .08f, .42f, .48f, .95f},
       {K::Text, .52f, .42f, .92f, .95f}},
      // a magazine page: a printed colour picture over three columns
      {{K::HalftoneColour, .06f, .05f, .94f, .50f},
       {K::Heading, .06f, .52f, .94f, .56f},
       {K::SmallText, .06f, .58f, .34f, .95f},
       {K::SmallText, .36f, .58f, .64f, .95f},
       {K::SmallText, .66f, .58f, .94f, .95f}},
      // a photograph with a caption
      {{K::Photo, .05f, .04f, .95f, .88f}, {K::SmallText, .05f, .90f, .95f, .95f}},
      // a form
      {{K::Heading, .08f, .05f, .70f, .08f},
       {K::Table, .08f, .10f, .92f, .60f},
       {K::Text, .08f, .63f, .92f, .80f},
       {K::Table, .08f, .82f, .92f, .94f}},
      // text with two printed grey pictures
      {{K::Text, .10f, .05f, .90f, .30f},
       {K::HalftoneGrey, .10f, .32f, .48f, .55f},
       {K::HalftoneGrey, .52f, .32f, .90f, .55f},
       {K::Text, .10f, .58f, .90f, .95f}},
      // a brochure: a coloured band, a photo, a printed picture
      {{K::Band, 0, 0, 1, .25f},
       {K::Heading, .08f, .08f, .90f, .14f},
       {K::Photo, .55f, .30f, .94f, .60f},
       {K::Text, .06f, .30f, .50f, .95f},
       {K::HalftoneColour, .55f, .63f, .94f, .95f}},
      // a newspaper page: four narrow columns and a grey picture
      {{K::Heading, .04f, .03f, .96f, .08f},
       {K::HalftoneGrey, .04f, .10f, .50f, .35f},
       {K::SmallText, .52f, .10f, .73f, .97f},
       {K::SmallText, .75f, .10f, .96f, .97f},
       {K::SmallText, .04f, .37f, .27f, .97f},
       {K::SmallText, .29f, .37f, .50f, .97f}},
      // dense small print
      {{K::SmallText, .06f, .04f, .94f, .96f}},
      // a printed colour picture over most of the page
      {{K::HalftoneColour, .04f, .04f, .96f, .85f}, {K::Text, .04f, .87f, .96f, .96f}},
  }};
  return layouts[static_cast<size_t>(layout) % layouts.size()];
}

Rect ToPixels(const Block& b, const PageImage& page) {
  const auto w = static_cast<float>(page.width), h = static_cast<float>(page.height);
  return {static_cast<int>(b.x0 * w), static_cast<int>(b.y0 * h), static_cast<int>(b.x1 * w),
          static_cast<int>(b.y1 * h)};
}

}  // namespace

PageImage MakeScanPage(int layout, uint64_t seed, int width, int height) {
  Rng rng(seed * 1000003u + static_cast<uint64_t>(layout));
  PageImage page;
  page.width = width;
  page.height = height;
  page.bgr.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  PaintPaper(page, rng);
  const GlyphSet glyphs(rng);
  const Colour black{38, 34, 32};
  for (const Block& b : Layout(layout)) {
    const Rect area = ToPixels(b, page);
    switch (b.kind) {
      case Kind::Heading: {
        const Colour ink = rng.Chance(0.5f) ? black
                                            : Colour{rng.Uniform(20, 160), rng.Uniform(20, 120),
                                                     rng.Uniform(20, 160)};
        PaintText(page, area, {72, ink}, glyphs, rng);
        break;
      }
      case Kind::Text: PaintText(page, area, {42, black}, glyphs, rng); break;
      case Kind::SmallText: PaintText(page, area, {33, black}, glyphs, rng); break;
      case Kind::Photo: PaintPhoto(page, area, rng); break;
      case Kind::HalftoneGrey: PaintHalftone(page, area, false, rng); break;
      case Kind::HalftoneColour: PaintHalftone(page, area, true, rng); break;
      case Kind::Table: PaintTable(page, area, glyphs, rng); break;
      case Kind::Band: PaintBand(page, area, rng); break;
    }
  }
  Blur(page);
  AddNoise(page, rng);
  return page;
}

bool WriteBmp24(const std::string& path, const PageImage& page, int dpi) {
  constexpr uint32_t kHeaderSize = 14 + 40;
  const uint32_t stride = (static_cast<uint32_t>(page.width) * 3 + 3) & ~3u;
  const uint32_t imageSize = stride * static_cast<uint32_t>(page.height);
  const auto pelsPerMetre = static_cast<uint32_t>(dpi * 39.37 + 0.5);
  std::array<uint8_t, kHeaderSize> h{};
  h[0] = 'B';
  h[1] = 'M';
  PutU32(&h[2], kHeaderSize + imageSize);
  PutU32(&h[10], kHeaderSize);
  PutU32(&h[14], 40);
  PutU32(&h[18], static_cast<uint32_t>(page.width));
  PutU32(&h[22], static_cast<uint32_t>(page.height));  // positive: bottom row first
  PutU16(&h[26], 1);
  PutU16(&h[28], 24);
  PutU32(&h[34], imageSize);
  PutU32(&h[38], pelsPerMetre);
  PutU32(&h[42], pelsPerMetre);
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f || std::fwrite(h.data(), 1, h.size(), f.get()) != h.size()) return false;
  std::vector<uint8_t> row(stride, 0);
  for (int y = page.height - 1; y >= 0; --y) {
    std::copy(page.Row(y), page.Row(y) + static_cast<size_t>(page.width) * 3, row.begin());
    if (std::fwrite(row.data(), 1, row.size(), f.get()) != row.size()) return false;
  }
  return std::fclose(f.release()) == 0;
}

}  // namespace tessaro::bench
