#include "tests/transitions/player/fx_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fxref {

Picture Noise(int width, int height, uint32_t seed) {
  Picture p(width, height);
  uint32_t s = seed * 2654435761u + 1;
  for (uint32_t& px : p.pixels) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    px = s & 0xFFFFFF;
  }
  return p;
}

namespace {

void Put16(std::string& b, uint32_t v) {
  b.push_back(static_cast<char>(v & 0xFF));
  b.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
uint32_t Get(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

}  // namespace

bool WriteBmp(const std::string& path, const Picture& p) {
  const uint32_t row = (static_cast<uint32_t>(p.width) * 3 + 3) & ~3u;
  const uint32_t size = row * static_cast<uint32_t>(p.height);
  std::string b = "BM";
  Put32(b, 54 + size);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(p.width));
  Put32(b, static_cast<uint32_t>(p.height));
  Put16(b, 1);
  Put16(b, 24);
  for (uint32_t v : {0u, size, 2835u, 2835u, 0u, 0u}) Put32(b, v);
  for (int y = p.height - 1; y >= 0; --y) {
    for (int x = 0; x < p.width; ++x) {
      const uint32_t c = p.At(x, y);
      b.push_back(static_cast<char>(c & 0xFF));
      b.push_back(static_cast<char>((c >> 8) & 0xFF));
      b.push_back(static_cast<char>((c >> 16) & 0xFF));
    }
    b.append(row - static_cast<uint32_t>(p.width) * 3, '\0');
  }
  std::ofstream out(path, std::ios::binary);
  out.write(b.data(), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(out);
}

bool ReadBmp(const std::string& path, Picture* p) {
  std::ifstream in(path, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
  const uint32_t offset = Get(b, 10, 4);
  const auto w = static_cast<int32_t>(Get(b, 18, 4)), h = static_cast<int32_t>(Get(b, 22, 4));
  const int bytes = static_cast<int>(Get(b, 28, 2)) / 8;
  if (w < 1 || h == 0 || (bytes != 3 && bytes != 4) || Get(b, 30, 4) != 0) return false;
  const int rows = h < 0 ? -h : h;
  const size_t row = (static_cast<size_t>(w) * bytes + 3) & ~size_t{3};
  if (offset + row * rows > b.size()) return false;
  *p = Picture(w, rows);
  for (int y = 0; y < rows; ++y) {
    const size_t at = offset + row * static_cast<size_t>(h < 0 ? y : rows - 1 - y);
    for (int x = 0; x < w; ++x) p->At(x, y) = Get(b, at + static_cast<size_t>(x) * bytes, 3);
  }
  return true;
}

Picture Enlarged(const Picture& p, int factor) {
  Picture out(p.width * factor, p.height * factor);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) out.At(x, y) = p.At(x / factor, y / factor);
  return out;
}

Picture Pasted(const Picture& base, const Picture& top, int x, int y) {
  Picture out = base;
  for (int j = 0; j < top.height; ++j)
    for (int i = 0; i < top.width; ++i)
      if (x + i >= 0 && y + j >= 0 && x + i < out.width && y + j < out.height) out.At(x + i, y + j) = top.At(i, j);
  return out;
}

std::string Difference(const Picture& got, const Picture& want) {
  if (got.width != want.width || got.height != want.height)
    return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + ", want " +
           std::to_string(want.width) + "x" + std::to_string(want.height);
  int count = 0, fx = -1, fy = -1;
  for (int y = 0; y < got.height; ++y)
    for (int x = 0; x < got.width; ++x)
      if (got.At(x, y) != want.At(x, y) && count++ == 0) fx = x, fy = y;
  if (!count) return "";
  char text[120];
  std::snprintf(text, sizeof text, "%d pixels differ, first at (%d, %d): %06x, want %06x", count, fx, fy,
                got.At(fx, fy), want.At(fx, fy));
  return text;
}

namespace {

int Resolve(int speed, int extent, int normal, int fast, int slow) {
  int step = speed == -1 ? extent / normal : speed == -2 ? extent / fast : speed == -3 ? extent / slow : speed;
  return step < 1 ? 1 : step;
}

int Count(int extent, int step, int flag) {
  if (extent < 1) return 1;
  return (extent + step - 1) / step + (flag == 0 ? 1 : 0);
}

// A rectangle (sx, sy, w, h) of a picture of the effect's size drawn at the
// offset (ox, oy) of the effect rectangle, clipped to it and the picture.
void Draw(EffectCanvas* c, const Picture& from, int sx, int sy, int w, int h, int ox, int oy) {
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const int px = sx + i, py = sy + j, tx = ox + i, ty = oy + j;
      if (px < 0 || py < 0 || px >= from.width || py >= from.height || tx < 0 || ty < 0 || tx >= c->w || ty >= c->h)
        continue;
      c->canvas.At(c->x + tx, c->y + ty) = from.At(px, py);
    }
}
void Strip(EffectCanvas* c, int x, int y, int w, int h) { Draw(c, *c->fresh, x, y, w, h, x, y); }
// Lines first..last of the new picture: columns or rows.
void Lines(EffectCanvas* c, bool columns, int first, int last) {
  if (last < first) return;
  if (columns) Strip(c, first, 0, last - first + 1, c->h);
  else Strip(c, 0, first, c->w, last - first + 1);
}
// count lines of a picture from line `from` on, drawn from line `to` on.
void Move(EffectCanvas* c, const Picture& p, bool columns, int from, int count, int to) {
  if (columns) Draw(c, p, from, 0, count, c->h, to, 0);
  else Draw(c, p, 0, from, c->w, count, 0, to);
}
void Fill(EffectCanvas* c, int x, int y, int w, int h, uint32_t colour) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i)
      if (i >= 0 && j >= 0 && i < c->w && j < c->h) c->canvas.At(c->x + i, c->y + j) = colour;
}

// Each stepper draws `frames` frames (or up to its last) and returns the
// number of frames it takes.
int Stripes(int id, int speed, int frames, EffectCanvas* c) {
  const bool vertical = id >= 7;
  const int E = vertical ? c->h : c->w, C = vertical ? c->w : c->h;
  const int S = 1 << (vertical ? id - 7 : id);
  int step = Resolve(speed, E, 70, 30, 200), count;
  if (E > step) count = Count(E - step, step, 0);
  else step = E - 1, count = 1;
  int P = 0;
  for (int f = 0; f < frames; ++f) {
    bool last = false;
    if (P >= E - step) P = E - step, last = true;
    for (int k = 0; k < C; k += 2 * S) {
      if (vertical) Strip(c, k, P, S, step), Strip(c, k + S, E - P - step, S, step);
      else Strip(c, P, k, step, S), Strip(c, E - P - step, k + S, step, S);
    }
    P += step;
    if (last) break;
  }
  return count;
}

int Blinds(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id >= 19;
  const int S = 8 << (columns ? id - 19 : id - 14);
  const int extent = columns ? c->w : c->h, N = extent / S;
  const int s = std::clamp(Resolve(speed, S, 8, 3, 20), 1, S / 2);
  int n = s;
  for (int f = 0; f < frames; ++f) {
    bool last = false;
    if (n >= S) n = S, last = true;
    for (int k = 0; k <= N; ++k) Lines(c, columns, k * S + n - s, k * S + n - 1);
    n += s;
    if (last) break;
  }
  return Count(S - s, s, 0);
}

int Reveal(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id <= 31, forward = id == 30 || id == 32;
  const int e = columns ? c->w : c->h;
  int s = Resolve(speed, e, 70, 30, 200);
  if (s > e / 2) s = columns ? 1 : e / 2;
  int p = forward ? 0 : e - 1;
  for (int f = 0; f < frames; ++f) {
    bool last = false;
    if (forward) {
      if (p >= e - 1 - s) p = e - 1 - s, last = true;
      Lines(c, columns, p, p + s);
      p += s + 1;
    } else {
      if (p <= s) p = s, last = true;
      Lines(c, columns, p - s, p);
      p -= s + 1;
    }
    if (last) break;
  }
  return Count(e - 1 - s, s + 1, 0);
}

int Curtain(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id <= 25, opening = id == 24 || id == 26;
  const int e = columns ? c->w : c->h;
  int s = Resolve(speed, e, 140, 60, 320);
  int first, second, count;
  if (opening) {
    if (s > e / 4) s = e / 4;
    first = e / 2, second = e / 2 - 1;
    count = Count(e - 1 - (e / 2 - 1) - s, s + 1, 0);
  } else {
    if (s > e / 2) s = 1;
    first = 0, second = e - 1;
    count = Count(e / 2, s + 1, 0);
  }
  for (int f = 0; f < frames; ++f) {
    bool last = false;
    if (opening) {
      if (second >= e - 1 - s) second = e - 1 - s, last = true;
      if (first - s < 0) first = s;
      Lines(c, columns, second, second + s);
      Lines(c, columns, first - s, first);
      first -= s + 1, second += s + 1;
    } else {
      if (first >= e / 2) first = e / 2, last = true;
      Lines(c, columns, first, first + s);
      Lines(c, columns, second - s, second);
      first += s + 1, second -= s + 1;
    }
    if (last) break;
  }
  return count;
}

int Gate(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id >= 76, opening = id == 74 || id == 76;
  const int e = columns ? c->w : c->h, half = e / 2, rest = e - half;
  const int s = Resolve(speed, e, 80, 30, 200);
  int a, b, count;
  if (opening) a = (e + 1) / 2 - s, b = e / 2 + s, count = Count(a, s, 0);
  else a = s, b = e - s, count = Count(e / 2 - s, s, 0);
  for (int f = 0; f < frames; ++f) {
    bool last = false;
    if (opening) {
      if (b >= e || a < 1) b = e, a = 0, last = true;
      Move(c, *c->old, columns, 0, half, a - half);
      Lines(c, columns, a, a + s - 1);
      Lines(c, columns, b - s, b - 1);
      Move(c, *c->old, columns, half, e - half, b);
      a -= s, b += s;
    } else {
      if (!(b > rest && a < half)) b = rest, a = half;
      if (b == rest && a == half) {
        Strip(c, 0, 0, c->w, c->h);
        last = true;
      } else {
        Move(c, *c->fresh, columns, 0, half, a - half);
        Move(c, *c->fresh, columns, e - rest, rest, b);
      }
      a += s, b -= s;
    }
    if (last) break;
  }
  return count;
}

int Push(int id, int speed, int frames, EffectCanvas* c) {
  const int w = c->w, h = c->h, e = id <= 79 ? w : h;
  const int s = Resolve(speed, e, 40, 10, 100);
  for (int f = 0, d = s; f < frames; ++f, d += s) {
    bool last = false;
    if (d >= e) d = e, last = true;
    int nx = 0, ny = 0, ox = 0, oy = 0;
    if (id == 78) nx = d - w, ox = d;
    else if (id == 79) nx = w - d, ox = -d;
    else if (id == 80) ny = d - h, oy = d;
    else ny = h - d, oy = -d;
    Draw(c, *c->fresh, 0, 0, w, h, nx, ny);
    Draw(c, *c->old, 0, 0, w, h, ox, oy);
    if (last) break;
  }
  return Count(e - s, s, 0);
}

int Slide(int id, int speed, int frames, EffectCanvas* c) {
  const bool rows = id >= 103, far = id == 102 || id == 104;
  const int W = c->w, H = c->h, E = rows ? H : W;
  const int step = std::clamp(Resolve(speed, E, 60, 30, 120), 1, 30);
  int px = 0, py = 0;
  for (int f = 0, s = step; f < frames; ++f, s += step) {
    if (s >= 2 * E) {
      Strip(c, 0, 0, W, H);
      break;
    }
    int u, size;
    if (!far) u = s <= E ? s : 2 * E - s, size = E - u;
    else if (s <= E) u = -s, size = E - s;
    else u = s - 2 * E, size = E;
    const int x = rows ? 0 : u, y = rows ? u : 0;
    if (s <= E) {
      if (id == 101) Fill(c, px, py, step, H, 0);
      else if (id == 102) Fill(c, W - s, 0, step, H, 0);
      else if (id == 103) Fill(c, px, py, W, step, 0);
      else Fill(c, 0, H - s, W, step, 0);
      if (size >= 1) Draw(c, *c->old, 0, 0, W, H, x, y);
    } else {
      Draw(c, *c->fresh, 0, 0, W, H, x, y);
    }
    px = x, py = y;
  }
  return Count(2 * E - step, step, 0);
}

// A cylinder of diameter D rolls across: the lines it passed lie flat, its
// band shows line p + trunc(angle / (2 pi / D)) at line p - D + 1 + i.
// Hiding rolls the layer's picture (what the canvas starts with) up again
// from the far end and shows what lies under it behind the band.
int Roll(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id == 85 || id == 87;
  const int E = columns ? c->w : c->h;
  const int D = std::max(id >= 86 ? E / 2 : E / 12, 20);
  const int step = speed == -2 ? 5 : speed == -1 ? 2 : speed == -3 ? 1 : std::clamp(speed / 5, 1, 8);
  const double pi = 3.14159265358979323846;
  Picture shown = *c->fresh;
  if (c->hiding)
    for (int y = 0; y < c->h; ++y)
      for (int x = 0; x < c->w; ++x) shown.At(x, y) = c->canvas.At(c->x + x, c->y + y);
  for (int f = 1; f <= frames; ++f) {
    const int p = c->hiding ? E - step * f : step * f;
    if (c->hiding ? p < 1 : p >= E) {
      Move(c, *c->fresh, columns, 0, E, 0);
      break;
    }
    int start = -1, end = p;
    for (int i = 0; i < D; ++i) {
      const int t = p - D + 1 + i, from = p + static_cast<int>((std::asin(1.0 - 2.0 * i / D) + pi / 2) / (2 * pi / D));
      if (t < 0 || t >= E || from < 0 || from >= E) continue;
      Move(c, shown, columns, from, 1, t);
      if (start < 0) start = t;
      end = t + 1;
    }
    if (!c->hiding) Move(c, shown, columns, 0, start < 0 ? p : start, 0);
    else Move(c, *c->fresh, columns, end, E - end, end);
  }
  // The last of them finishes.
  return (E + step - 1) / step;
}

int Card(int id, int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h;
  const int step = std::clamp(Resolve(speed, std::max(W, H), 60, 30, 120), 1, 30);
  for (int f = 0, s = step; f < frames; ++f, s += step) {
    bool last = false;
    if (s >= H) s = H, last = true;
    const int t = s < H / 2 ? s : H - s;
    const bool firstLayout = (id == 111) == (s < H / 2);
    const int a = firstLayout ? t : H - t, b = firstLayout ? H - t : t, cc = firstLayout ? 0 : H - 2 * t;
    const Picture& one = id == 111 ? *c->fresh : *c->old;
    const Picture& two = id == 111 ? *c->old : *c->fresh;
    Draw(c, one, 0, t, W, a, 0, 0);
    Draw(c, two, 0, cc, W, b, 0, a);
    if (last) break;
  }
  return Count(H - step, step, 0);
}

int Lines2(int id, int frames, EffectCanvas* c) {
  const bool columns = id == 34;
  const int e = columns ? c->w : c->h;
  for (int f = 0, u = 0, d = e % 2 ? e - 2 : e - 1; f < frames; ++f, u += 2, d -= 2) {
    const bool last = u >= e;
    Lines(c, columns, std::max(d, 0), std::max(d, 0));
    Lines(c, columns, std::min(u, e - 1), std::min(u, e - 1));
    if (last) break;
  }
  return Count(e, 2, 0);
}

int Lines1(int id, int frames, EffectCanvas* c) {
  const bool columns = id == 37;
  const int e = columns ? c->w : c->h;
  for (int f = 0, k = 0; f < frames; ++f, k += 2) {
    const bool last = k == 2 * e;
    int line = k < e ? k : 2 * e - k;
    if (k >= e && line % 2 == 0) ++line;
    line = std::clamp(line, 0, e - 1);
    Lines(c, columns, line, line);
    if (last) break;
  }
  return Count(2 * e, 2, 0);
}

int Bars(int speed, int frames, EffectCanvas* c) {
  const int s = std::clamp(Resolve(speed, 16, 16, 8, 40), 0, 8);
  for (int f = 0, n = 0; f < frames; ++f, n += s + 1) {
    bool last = false;
    if (n > 22) n = 23, last = true;
    if (n <= 8) {
      for (int k = 0; k < c->w / 16; ++k) Lines(c, true, 16 * k, 16 * k + n);
      Lines(c, true, c->w - c->w % 16, c->w - 1);
    } else {
      for (int k = 0; k < c->h / 16; ++k) Lines(c, false, 16 * k, 16 * k + n - 8);
      Lines(c, false, c->h - c->h % 16, c->h - 1);
    }
    if (last) break;
  }
  return Count(23, s + 1, 0);
}

int Quarters(int speed, int frames, EffectCanvas* c) {
  const int w = c->w, h = c->h;
  const int s = std::min(std::max(Resolve(speed, w, 70, 30, 200), 0), h / 4);
  const int end = h - 1 - h / 2 - s;
  for (int f = 0, n = 0; f < frames; ++f, n += s + 1) {
    bool last = false;
    if (n >= end) n = end, last = true;
    Strip(c, 0, n, w / 2, s + 1);
    Strip(c, 0, h / 2 + n, w / 2, s + 1);
    for (int x : {w / 2, 2 * (w / 2)}) {
      const int width = x == w / 2 ? w / 2 : w % 2;
      Strip(c, x, h - 1 - n - h / 2 - s, width, s + 1);
      Strip(c, x, h - 1 - n - s, width, s + 1);
    }
    if (last) break;
  }
  return Count(end, s + 1, 0);
}

int Diagonal(int speed, int frames, EffectCanvas* c) {
  const int w = c->w, h = c->h;
  int s = Resolve(speed, w, 60, 20, 130);
  if (s > w / 4) s = 1;
  for (int f = 0, p = s, m = 0; f < frames; ++f, p += s) {
    bool last = false;
    if (p >= w + h) p = w + h, last = true;
    m = std::min(m + 1, h / s + 1);
    for (int k = 0; k < m; ++k) Strip(c, p - (k + 1) * s, k * s, s, s);
    if (last) break;
  }
  return Count(w + h - s, s, 0);
}

int Split(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id == 108;
  const int E = columns ? c->w : c->h, half = E / 2;
  const int step = std::clamp(Resolve(speed, std::max(c->w, c->h), 120, 60, 240), 1, 30);
  const int Q = E / 4;
  for (int f = 0, a = Q + step, b = Q - step; f < frames; ++f) {
    a -= step, b += step;
    if (a < 1) {
      Strip(c, 0, 0, c->w, c->h);
      break;
    }
    for (int offset : {0, half + E % 2}) {
      Lines(c, columns, a + offset, a + offset + step - 1);
      Lines(c, columns, b + offset, b + offset + step - 1);
    }
    b = std::min(b, half);
  }
  return Count(Q + step, step, 1);
}

int UpAndDown(int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h, C = W / 8 + 1;
  const int step = std::clamp(Resolve(speed, std::max(W, H), 60, 30, 120), 1, 30);
  constexpr int kDown[4] = {0, 3, 4, 7}, kUp[4] = {1, 2, 5, 6};
  for (int f = 0, n = 0, stored = 0; f < frames; ++f, n += step) {
    const int k = n / H, r = n % H;
    if (k >= 4) {
      Strip(c, 0, 0, W, H);
      break;
    }
    if (k != stored) {
      stored = k;
      Strip(c, kDown[k] * C, 0, C, step + 2);
      Strip(c, kUp[k] * C, H - step - 1, C, step + 2);
    }
    Strip(c, kDown[k] * C, r, C, step + 2);
    Strip(c, kUp[k] * C, std::max(H - r - step, 1) - 1, C, step + 2);
  }
  return Count(4 * H, step, 0);
}

// The rectangle of the picture's proportions whose longer side is k.
void RectSize(const EffectCanvas* c, int k, int* rw, int* rh) {
  const int M = std::max(c->w, c->h), m = std::min(c->w, c->h);
  const int other = std::max(1, static_cast<int>(static_cast<long double>(m) / M * k + 1.0L));
  *rw = c->w >= c->h ? k : other;
  *rh = c->w >= c->h ? other : k;
}

// RECT: a window of the picture's proportions on the new picture grows
// from its anchor; RECTBACK: the old picture shrinks into the anchor
// opposite the direction. Centred, the axis is halved, and a growing
// window takes one more line where the rest is odd.
int Rect(int id, int speed, int frames, EffectCanvas* c) {
  const bool back = id >= 88;
  const int M = std::max(c->w, c->h);
  int s = Resolve(speed, M, 70, 30, 200);
  if (s > M / 4) s = 1;
  // Anchor per axis: 0 start, 1 centred, 2 end.
  static constexpr int kGrow[9][2] = {{1, 1}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 0}};
  static constexpr int kShrink[9][2] = {{1, 1}, {1, 2}, {0, 2}, {0, 1}, {0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}};
  const int* anchor = back ? kShrink[id - 88] : kGrow[id - 38];
  auto place = [&](int a, int extent, int* size) {
    if (a == 0) return 0;
    if (a == 2) return extent - *size;
    const int rest = extent - *size;
    if (!back && rest % 2) ++*size;
    return rest / 2;
  };
  for (int f = 0; f < frames; ++f) {
    const int n = back ? M - s * (f + 1) : s * (f + 1);
    if (back ? n < 1 : n >= M) {
      Strip(c, 0, 0, c->w, c->h);
      break;
    }
    int rw = 0, rh = 0;
    RectSize(c, n, &rw, &rh);
    const int x = place(anchor[0], c->w, &rw), y = place(anchor[1], c->h, &rh);
    if (!back) {
      Strip(c, x, y, rw, rh);
      continue;
    }
    // Everything but the remaining old rectangle shows the new picture.
    Strip(c, 0, 0, c->w, y);
    Strip(c, 0, y + rh, c->w, c->h - y - rh);
    Strip(c, 0, y, x, rh);
    Strip(c, x + rw, y, c->w - x - rw, rh);
  }
  return Count(M - s, s, 0);
}

// The side that keeps the picture's proportions for a long side of n.
int Proportional(const EffectCanvas* c, int n) {
  const int M = std::max(c->w, c->h), m = std::min(c->w, c->h);
  return std::max(1, static_cast<int>(static_cast<double>(m) / M * n + 1.0));
}

int Swiss(int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h, M = std::max(W, H);
  const int step = std::clamp(Resolve(speed, M, 120, 60, 240), 1, 30);
  for (int f = 0, s = 0, pa = 0, pb = 0; f < frames; ++f) {
    s += step;
    const int a = W >= H ? s : Proportional(c, s), b = W >= H ? Proportional(c, s) : s;
    if (s >= M / 2) {
      Strip(c, 0, 0, W, H);
      break;
    }
    const int da = a - pa, db = b - pb;
    Strip(c, pa, 0, da, b), Strip(c, 0, pb, a, db);
    Strip(c, 0, H - b, a, db), Strip(c, pa, H - pb, da, pb);
    Strip(c, W - a, H - b, a, db), Strip(c, W - a, H - pb, da, pb);
    Strip(c, W - a, 0, da, b), Strip(c, W - a, pb, a, db);
    pa = a, pb = b;
  }
  return Count(M / 2, step, 1);
}

int QuadRect(int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h, M = std::max(W, H), qw = W / 2, qh = H / 2;
  const int step = std::clamp(Resolve(speed, M, 120, 60, 240), 1, 30);
  for (int f = 0, s = 0, change = 0, pw = 0, ph = 0, second = 0; f < frames; ++f) {
    s += step;
    const int t = s - change;
    int w = W >= H ? t : Proportional(c, t), h = W >= H ? Proportional(c, t) : t, x, y;
    if (w >= qw) w = qw, h = qh, x = 0, y = 0;
    else x = (qw - w) / 2, y = (qh - h) / 2;
    if (second) x += qw;
    if (second && s >= M) {
      Strip(c, 0, 0, W, H);
      break;
    }
    const int dw = (w - pw) / 2 + 1, dh = (h - ph) / 2 + 1;
    for (int q = 0; q < 2; ++q) {
      Strip(c, x, y, dw, h), Strip(c, x + dw, y, pw, dh);
      Strip(c, x + w - dw, y, dw, h), Strip(c, x + dw, y + h - dh, pw, dh);
      y += qh + H % 2;
      x += second ? -(qw + W % 2) : qw + W % 2;
    }
    if (!second && s >= M / 2) change = s, second = 1, pw = ph = 0;
    else if (s < M) pw = w, ph = h;
  }
  return Count(M, step, 1);
}

// The band runs along twelve legs around three rings of a 7 x 6 grid.
int Spiral(int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h;
  const int step = speed == -2 ? 15 : speed == -1 ? 10 : speed == -3 ? 5 : std::clamp(speed, 1, 30);
  const int cw = W / 7 + 1, rh = H / 6 + 1;
  const int R1 = W - cw, R2 = R1 - cw, R3 = R2 - cw, B1 = H - rh, B2 = B1 - rh;
  int p = 0, leg = 0, x = R1, y = 0, f = 0;
  // Moves p toward the limit; true when it stood there already.
  auto to = [&](int limit) {
    if (p == limit) return true;
    p = p < limit ? std::min(p + step, limit) : std::max(p - step, limit);
    return false;
  };
  for (bool end = false; !end; ++f) {
    const bool draw = f < frames;
    auto band = [&](int bx, int by, int bw, int bh) {
      if (draw) Strip(c, bx, by, bw, bh);
    };
    switch (leg) {
      case 0: band(x, p, cw, step); if (to(H - 1)) leg = 1, p = x - step, y = B1; break;
      case 1: band(p, y, step, rh); if (to(0)) leg = 2, p = y - step; break;
      case 2: band(0, p, cw, step); if (to(0)) leg = 3, p = cw; break;
      case 3: band(p, 0, step, rh); if (to(R1)) leg = 4, p = rh, x = R2; break;
      case 4: band(x, p, cw, step); if (to(B1)) leg = 5, p = x - step, y = B2; break;
      case 5: band(p, y, step, rh); if (to(cw)) leg = 6, p = y - step, x = cw; break;
      case 6: band(x, p, cw, step); if (to(rh)) leg = 7, p = 2 * cw, y = rh; break;
      case 7: band(p, y, step, rh); if (to(R2)) leg = 8, p = 2 * rh, x = R3; break;
      case 8: band(x, p, cw, step); if (to(B2)) leg = 9, p = x - step, y = 3 * rh; break;
      case 9: band(p, y, step, rh); if (to(2 * cw)) leg = 10, p = y - step, x = 2 * cw; break;
      case 10: band(x, p, cw, step); if (to(2 * rh)) leg = 11, p = 3 * cw, y = 2 * rh; break;
      default: band(p, y, step, rh); end = to(R3); break;
    }
  }
  return f;
}

// The new picture's rows come in interlaced: the odd rows from one end,
// the even rows from the other.
int StrangePush(int id, int speed, int frames, EffectCanvas* c) {
  const bool across = id == 99;
  const int E = across ? c->w : c->h;
  int step = Resolve(speed, E, 60, 30, 120);
  if (step & 1) ++step;
  for (int f = 0, s = step; f < frames; ++f, s += step) {
    bool last = false;
    if (s >= E) s = E, last = true;
    for (int j = 0; j < c->h; ++j)
      for (int i = 0; i < c->w; ++i) {
        const int along = across ? i : j;
        // The planes lie on the new picture: the parity is its row's. The
        // odd rows of its far end come in at 0, then its even rows of the
        // near end at E - s.
        int from = -1;
        if (along < s && (across ? j : along + E - s) % 2 == 1) from = along + E - s;
        if (along >= E - s && (across ? j : along - (E - s)) % 2 == 0) from = along - (E - s);
        if (from < 0) continue;
        c->canvas.At(c->x + i, c->y + j) = across ? c->fresh->At(from, j) : c->fresh->At(i, from);
      }
    if (last) break;
  }
  return Count(E - step, step, 0);
}

// The flows: the reached lines of the new picture, the leading line
// stretched over the rest.
int Flow(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id >= 72, backward = id == 71 || id == 73;
  const int extent = columns ? c->w : c->h;
  const int step = std::clamp(columns ? Resolve(speed, extent, 30, 10, 80) : Resolve(speed, extent, 50, 20, 120), 1, 30);
  int e = backward ? extent - step : step;
  for (int f = 0; f < frames; ++f) {
    bool last = false;
    int a, b, lead, from, to;
    if (!backward) {
      if (e >= extent) e = extent, last = true;
      a = e - step, b = e, lead = e - 1, from = columns ? e - 1 : e, to = extent;
    } else {
      if (e < 1) e = 0, last = true;
      a = e, b = e + step, lead = e - 1, from = 0, to = e;
    }
    lead = std::clamp(lead, 0, extent - 1);
    Lines(c, columns, std::max(a, 0), std::min(b, extent) - 1);
    for (int line = std::max(from, 0); line < to; ++line) Move(c, *c->fresh, columns, lead, 1, line);
    e += backward ? -step : step;
    if (last) break;
  }
  return Count(extent - step, step, 0);
}

// The rectangle (sx, sy, sw, sh) of a picture scaled to tw x th without
// smoothing: target column i reads source column (i * step) >> 16 with
// step the 16.16 ratio, target row j the row the summed ratio reaches.
Picture Scaled(const Picture& p, int sx, int sy, int sw, int sh, int tw, int th) {
  Picture out(std::max(tw, 0), std::max(th, 0));
  if (tw < 1 || th < 1 || sw < 1 || sh < 1) return out;
  const auto step = static_cast<uint64_t>(static_cast<double>(static_cast<long double>(sw) / tw * 65536.0L));
  const long double yr = static_cast<long double>(sh) / th;
  long double row = 0;
  for (int j = 0; j < th; ++j, row += yr) {
    const int from = static_cast<int>(static_cast<double>(row));
    uint64_t acc = 0;
    for (int i = 0; i < tw; ++i, acc += step) out.At(i, j) = p.At(sx + static_cast<int>(acc >> 16), sy + from);
  }
  return out;
}
void DrawWhole(EffectCanvas* c, const Picture& p, int x, int y) { Draw(c, p, 0, 0, p.width, p.height, x, y); }
// count lines of a picture from line `from` on, scaled to size lines and
// drawn from line `at` on.
void ScaledLines(EffectCanvas* c, const Picture& p, bool columns, int from, int count, int size, int at) {
  const int extent = columns ? c->w : c->h;
  count = std::min(count, extent - from);
  if (count < 1 || size < 1) return;
  if (columns) DrawWhole(c, Scaled(p, from, 0, count, c->h, size, c->h), at, 0);
  else DrawWhole(c, Scaled(p, 0, from, c->w, count, c->w, size), 0, at);
}

int Stretch(int id, int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h, M = std::max(W, H), m = std::min(W, H);
  const bool tall = id >= 61 ? W < H : id == 57 || id == 58 || id == 59;
  const bool grows = id != 56 && id != 58;
  const int full = tall ? H : W;
  const int step = Resolve(speed, id >= 61 ? M : tall ? H : W, 30, 10, 80);
  int s = grows ? step : full - step;
  const int count = Count(grows ? full - s : s, step, 0);
  for (int f = 0; f < frames; ++f, s += grows ? step : -step) {
    bool last = false;
    int x = 0, y = 0, w = W, h = H;
    if (id == 55 || id == 60) {
      if (s >= W) s = W, last = true;
      w = s;
    } else if (id == 56) {
      if (s < 1) s = 0, last = true;
      x = s, w = W - s;
    } else if (id == 57 || id == 59) {
      if (s >= H) s = H, last = true;
      h = s;
    } else if (id == 58) {
      if (s < 1) s = 0, last = true;
      y = s, h = H - s;
    } else if (s >= M) {
      last = true;
    } else {
      const int side = std::max(1, static_cast<int>(static_cast<double>(m) / M * s));
      w = W < H ? side : s, h = W < H ? s : side;
    }
    const bool midX = id == 60 || id == 61 || id == 62 || id == 66, midY = id == 59 || id == 61 || id == 64 || id == 68;
    const bool farX = id == 63 || id == 64 || id == 65, farY = id == 65 || id == 66 || id == 67;
    if (id == 59) y = (H - s) / 2;
    else if (id == 60) x = (W - s) / 2;
    else if (id >= 61) {
      x = midX ? (W - w) / 2 : farX ? W - w : 0;
      y = midY ? (H - h) / 2 : farY ? H - h : 0;
    }
    DrawWhole(c, Scaled(*c->fresh, 0, 0, W, H, w, h), x, y);
    if (last) break;
  }
  return count;
}

int ZoomInOut(int id, int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h, M = std::max(W, H);
  const int step = Resolve(speed, M, 60, 30, 120);
  int px = 0, py = 0, pw = W, ph = H;
  for (int f = 0, T = step; f < frames; ++f, T += step) {
    bool last = false;
    int x = 0, y = 0, w = W, h = H;
    if (T < 2 * M) {
      const int d = T <= M ? M - T : T - M;
      if (W < H) {
        h = std::max(d, 1), w = static_cast<int>(static_cast<double>(W) / H * h + 1.0);
        x = w < 1 ? (W - 1) / 2 : (W - w) / 2, w = std::max(w, 1), y = (H - h) / 2;
      } else {
        w = std::max(d, 1), h = static_cast<int>(static_cast<double>(H) / W * w + 1.0);
        y = h < 1 ? (H - 1) / 2 : (H - h) / 2, h = std::max(h, 1), x = (W - w) / 2;
      }
      w = std::min(w, W), h = std::min(h, H);
    } else {
      T = 2 * M, last = true;
    }
    const Picture& pic = T > M ? *c->fresh : *c->old;
    if (id == 118) {
      if (T <= M) {
        Fill(c, px, py, x - px + 1, ph, 0);
        Fill(c, px, py, pw, y - py + 1, 0);
        Fill(c, x + w - 1, py, px + pw - (x + w - 1), ph, 0);
        Fill(c, px, y + h - 1, pw, py + ph - (y + h - 1), 0);
      }
      DrawWhole(c, Scaled(pic, 0, 0, W, H, w, h), x, y);
      px = x, py = y, pw = w, ph = h;
    } else {
      DrawWhole(c, Scaled(pic, x, y, w, h, W, H), 0, 0);
    }
    if (last) break;
  }
  return Count(2 * M - step, step, 0);
}

int Crush(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id <= 121, far = id == 121 || id == 123;
  const int E = columns ? c->w : c->h;
  const int step = Resolve(speed, E, 60, 30, 120);
  for (int f = 0, s = step; f < frames; ++f, s += step) {
    bool last = false;
    if (s >= E) s = E, last = true;
    ScaledLines(c, *c->fresh, columns, 0, E, s, far ? E - s : 0);
    ScaledLines(c, *c->old, columns, 0, E, E - s, far ? 0 : s);
    if (last) break;
  }
  return Count(E - step, step, 0);
}

int TurnDown(int id, int speed, int frames, EffectCanvas* c) {
  const bool columns = id >= 130, far = id == 129 || id == 131;
  const int E = columns ? c->w : c->h, mh = E / 2, odd = E % 2;
  const int step = Resolve(speed, E, 60, 30, 120);
  for (int f = 0, s = step; f < frames; ++f, s += step) {
    if (s >= E) {
      Strip(c, 0, 0, c->w, c->h);
      break;
    }
    if (s <= mh) {
      if (mh < s + step) s = mh;
      ScaledLines(c, *c->fresh, columns, far ? mh : 0, mh, s, far ? E - s : 0);
      ScaledLines(c, *c->old, columns, far ? mh : 0, mh, mh - s, far ? mh : s);
    } else if (!far) {
      ScaledLines(c, *c->fresh, columns, mh, mh + odd, std::min(s - mh, E - mh), mh);
    } else {
      ScaledLines(c, *c->fresh, columns, 0, mh + odd, s - mh, E - s + odd);
    }
  }
  return Count(E - step, step, 0);
}

int FlipCoin(int id, int speed, int frames, EffectCanvas* c) {
  const int W = c->w, H = c->h;
  const bool columns = id >= 126, low = id == 125 || id == 127;
  const int E = columns ? W : H;
  const int step = Resolve(speed, E, 60, 30, 120);
  int px = 0, py = 0, pw = W, ph = H;
  for (int f = 0, s = step; f < frames; ++f, s += step) {
    bool last = false;
    if (s >= 2 * E) s = 2 * E, last = true;
    const int d = std::max(std::abs(s - E), 1), at = low ? E - d : (E - d) / 2;
    const int x = columns ? at : 0, y = columns ? 0 : at, w = columns ? d : W, h = columns ? H : d;
    if (s <= E) {
      if (!columns && low) Fill(c, 0, py, W, ph - d, 0);
      else if (!columns) Fill(c, 0, py, W, y - py + 1, 0), Fill(c, 0, y + h - 1, W, py + ph - (y + h - 1), 0);
      else if (low) Fill(c, px, 0, pw - d, H, 0);
      else Fill(c, px, 0, x - px + 1, H, 0), Fill(c, x + w - 1, 0, px + pw - (x + w - 1), H, 0);
      px = x, py = y, pw = w, ph = h;
    }
    DrawWhole(c, Scaled(s > E ? *c->fresh : *c->old, 0, 0, W, H, w, h), x, y);
    if (last) break;
  }
  return Count(2 * E - step, step, 0);
}

// FADE and BLEND drawn onto the screen, through the colour: the current
// picture (for FADE the old one until the level passes 255) tinted toward
// the colour by the intensity, each channel d + ((c - d) * i >> 8).
int Fade(int id, int speed, int frames, uint32_t colour, EffectCanvas* c) {
  const int step = speed < 1 ? 10 : std::min(speed, 255);
  int level = step;
  for (int f = 0; f < frames; ++f, level += step) {
    const bool last = level > 510;
    const int L = last ? 511 : level, I = last ? 0 : L < 256 ? L : 255 - (L & 255);
    // The old picture is the screen's: at the rectangle's place in it.
    const bool old = id == 116 && level <= 255;
    for (int j = 0; j < c->h; ++j)
      for (int i = 0; i < c->w; ++i) {
        const uint32_t p = old ? c->old->At(c->x + i, c->y + j) : c->fresh->At(i, j);
        uint32_t out = 0;
        for (int sh = 0; sh < 24; sh += 8) {
          const int d = static_cast<int>(p >> sh & 255), t = static_cast<int>(colour >> sh & 255);
          out |= static_cast<uint32_t>(d + (((t - d) * I) >> 8)) << sh;
        }
        c->canvas.At(c->x + i, c->y + j) = out;
      }
    if (last) break;
  }
  return Count(511 - step, step, 0);
}

// The pixel zooms: each block of b x b pixels from the top-left corner
// takes its top-left pixel; PIXELZOOM1 sharpens the new picture from
// blocks of 24, PIXELZOOM2 first coarsens the old one up to 24.
int PixelZoom(int id, int frames, EffectCanvas* c) {
  const bool second = id == 133;
  for (int f = 0; f < frames; ++f) {
    const int n = f + 1;
    const bool last = second ? n >= 49 : n > 24, old = second && n < 24;
    int b = last ? 1 : 1 + (!second ? 24 - n : n <= 23 ? n : 48 - n);
    b = std::min({b, c->w, c->h});
    for (int j = 0; j < c->h; ++j)
      for (int i = 0; i < c->w; ++i) {
        const int si = i / b * b, sj = j / b * b;
        c->canvas.At(c->x + i, c->y + j) = old ? c->old->At(c->x + si, c->y + sj) : c->fresh->At(si, sj);
      }
    if (last) break;
  }
  return second ? 49 : 25;
}

}  // namespace

// The crossfade: each frame mixes the whole rectangle from the old picture
// (the one under the rectangle, of the screen's size) toward the new one by
// a level rising by the step, channel = old + ((new - old) * level >> 8),
// until the level passes 254 and the new picture stands alone.
int Crossfade(int speed, int frames, EffectCanvas* c) {
  const int s = speed < 1 ? 10 : std::min(speed, 120);
  const int level = s * frames > 254 ? 255 : s * frames;
  for (int j = 0; j < c->h; ++j)
    for (int i = 0; i < c->w; ++i) {
      const uint32_t n = c->fresh->At(i, j), o = c->old->At(c->x + i, c->y + j);
      uint32_t out = n;
      if (level < 255) {
        out = 0;
        for (int sh = 0; sh < 24; sh += 8) {
          const int nc = n >> sh & 255, oc = o >> sh & 255;
          out |= static_cast<uint32_t>(oc + (((nc - oc) * level) >> 8)) << sh;
        }
      }
      c->canvas.At(c->x + i, c->y + j) = out;
    }
  return (255 + s - 1) / s;
}

bool StepReference(int id, int speed, int frames, EffectCanvas* c, int* count) {
  if (id >= 0 && id <= 13 && id != 0 && id != 7) *count = Stripes(id, speed, frames, c);
  else if (id >= 14 && id <= 23) *count = Blinds(id, speed, frames, c);
  else if (id >= 24 && id <= 27) *count = Curtain(id, speed, frames, c);
  else if (id >= 30 && id <= 33) *count = Reveal(id, speed, frames, c);
  else if (id == 28) *count = Bars(speed, frames, c);
  else if (id == 29) *count = Quarters(speed, frames, c);
  else if (id == 34 || id == 35) *count = Lines2(id, frames, c);
  else if (id == 36 || id == 37) *count = Lines1(id, frames, c);
  else if (id == 83) *count = Diagonal(speed, frames, c);
  else if ((id >= 38 && id <= 46) || (id >= 88 && id <= 96)) *count = Rect(id, speed, frames, c);
  else if (id == 108 || id == 109) *count = Split(id, speed, frames, c);
  else if (id == 110) *count = UpAndDown(speed, frames, c);
  else if (id >= 74 && id <= 77) *count = Gate(id, speed, frames, c);
  else if (id >= 78 && id <= 81) *count = Push(id, speed, frames, c);
  else if (id >= 101 && id <= 104) *count = Slide(id, speed, frames, c);
  else if (id == 111 || id == 112) *count = Card(id, speed, frames, c);
  else if (id >= 84 && id <= 87) *count = Roll(id, speed, frames, c);
  else if (id == 115) *count = Crossfade(speed, frames, c);
  else if (id == 105) *count = Spiral(speed, frames, c);
  else if (id == 106) *count = Swiss(speed, frames, c);
  else if (id == 107) *count = QuadRect(speed, frames, c);
  else if (id == 99 || id == 100) *count = StrangePush(id, speed, frames, c);
  else if (id >= 70 && id <= 73) *count = Flow(id, speed, frames, c);
  else if (id >= 55 && id <= 69) *count = Stretch(id, speed, frames, c);
  else if (id == 116 || id == 117) *count = Fade(id, speed, frames, 0xFF00FF, c);
  else if (id == 132 || id == 133) *count = PixelZoom(id, frames, c);
  else if (id == 118 || id == 119) *count = ZoomInOut(id, speed, frames, c);
  else if (id >= 120 && id <= 123) *count = Crush(id, speed, frames, c);
  else if (id >= 124 && id <= 127) *count = FlipCoin(id, speed, frames, c);
  else if (id >= 128 && id <= 131) *count = TurnDown(id, speed, frames, c);
  else return false;
  return true;
}

}  // namespace fxref
