// Decoding a 1280 x 960 RGB PNG into planes with PlainPng (inflate, unfilter, split), per row
// filter: the file is written by libpng with only that filter allowed (or all of them, adaptive).
// The pixels are smooth ramps with camera-like noise, as in a studio frame.
#include <png.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tervik/plain_png.h"

namespace {

constexpr int kWidth = 1280, kHeight = 960;

// The PNG file of a noisy ramp image written with `filters` allowed, as bytes.
std::vector<unsigned char> make_file(int filters) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 2.0);
  std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        const double v = 60 + 0.08 * x + 0.05 * y + 20 * c + noise(rng);
        pixels[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c] =
            static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
  const std::string name = "/tmp/tervik_png_bench_" + std::to_string(filters) + ".png";
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + name);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_write_info(png, info);
  for (int y = 0; y < kHeight; ++y) png_write_row(png, pixels.data() + y * kWidth * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  f = std::fopen(name.c_str(), "rb");
  std::vector<unsigned char> bytes;
  for (int ch; (ch = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(ch));
  std::fclose(f);
  std::remove(name.c_str());
  return bytes;
}

void BM_DecodeRgb(benchmark::State& state) {
  const std::vector<unsigned char> file = make_file(static_cast<int>(state.range(0)));
  std::vector<unsigned char> planes(static_cast<std::size_t>(kWidth) * kHeight * 3);
  unsigned char* p[3] = {planes.data(), planes.data() + kWidth * kHeight,
                         planes.data() + 2 * kWidth * kHeight};
  tervik::io::PlainPng png;
  for (auto _ : state) {
    if (!png.decode(file.data(), file.size(), 3)) state.SkipWithError("declined");
    png.write_planes(p);
    benchmark::DoNotOptimize(planes.data());
  }
}
BENCHMARK(BM_DecodeRgb)
    ->Arg(PNG_FILTER_SUB)
    ->Arg(PNG_FILTER_UP)
    ->Arg(PNG_FILTER_AVG)
    ->Arg(PNG_FILTER_PAETH)
    ->Arg(PNG_ALL_FILTERS)
    ->Unit(benchmark::kMillisecond);

}  // namespace
