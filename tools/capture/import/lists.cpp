// Importers of the plain-text lists: 3 x 4 projection matrices and the Middlebury K R t list.
#include <filesystem>

#include "tervik/exceptions.h"
#include "tervik/io_auxiliar.h"
#include "tervik/readimage.h"
#include "tools/capture/import/camera_import.h"
#include "tools/capture/import/import_util.h"

namespace tervik::calibration {
namespace {

// "file, line n" for messages.
std::string at_line(const std::string& file, std::size_t index) {
  return file + ", line " + std::to_string(index + 1);
}

// The numbers of one line; throws TervikFileError naming the line and the word otherwise.
std::vector<double> line_numbers(const std::vector<std::string>& words, const std::string& file,
                                 std::size_t index) {
  std::vector<double> out;
  for (const std::string& w : words) {
    double v;
    if (!parse_real(w, v))
      throw TervikFileError(file, "line " + std::to_string(index + 1) + ": '" + w +
                                      "' is not a finite number");
    out.push_back(v);
  }
  return out;
}

}  // namespace

ImportResult import_projections(const std::vector<std::string>& files,
                                const ImportOptions& options) {
  if (options.width == 0 || options.height == 0)
    throw TervikError("projection matrices carry no image size: give --image-size WIDTHxHEIGHT");
  const PixelCentres centres = centres_or(options, PixelCentres::half);
  ImportResult result;
  for (const std::string& file : files) {
    const std::vector<std::string> lines = read_lines(file);
    // Numbers per non-comment line, with the line index.
    std::vector<std::pair<std::size_t, std::vector<double>>> rows;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::vector<std::string> words = split_words(lines[i]);
      if (words.empty() || words[0][0] == '#') continue;
      rows.emplace_back(i, line_numbers(words, file, i));
    }
    bool per_line = !rows.empty();
    for (const auto& row : rows) per_line = per_line && row.second.size() == 12;
    std::vector<std::pair<std::string, std::vector<double>>> matrices;
    if (per_line) {
      for (const auto& row : rows) matrices.emplace_back(at_line(file, row.first), row.second);
    } else {
      std::vector<double> all;
      for (const auto& row : rows) all.insert(all.end(), row.second.begin(), row.second.end());
      if (all.size() != 12)
        throw TervikFileError(file, "expected one 3 x 4 projection matrix (12 numbers) or one "
                                    "matrix of 12 numbers per line, found " +
                                        std::to_string(all.size()) + " numbers");
      matrices.emplace_back(file, all);
    }
    for (const auto& [source, v] : matrices) {
      double p[3][4];
      for (int i = 0; i < 12; ++i) p[i / 4][i % 4] = v[i];
      result.cameras.push_back(
          {source, camera_from_projection(p, options.width, options.height, centres, source)});
    }
  }
  return result;
}

ImportResult import_middlebury(const std::string& file, const ImportOptions& options) {
  const PixelCentres centres = centres_or(options, PixelCentres::integer);
  const std::vector<std::string> lines = read_lines(file);
  std::size_t next = 0;
  auto next_words = [&]() {
    while (next < lines.size()) {
      std::vector<std::string> words = split_words(lines[next++]);
      if (!words.empty()) return words;
    }
    return std::vector<std::string>();
  };
  const std::vector<std::string> first = next_words();
  long count = 0;
  if (first.size() != 1 || !parse_integer(first[0], count) || count < 1)
    throw TervikFileError(file, "the first line must hold the number of cameras");
  if (static_cast<std::size_t>(count) > lines.size())
    throw TervikFileError(file, "declares " + std::to_string(count) + " cameras but has only " +
                                    std::to_string(lines.size()) + " lines");
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  ImportResult result;
  for (long cam = 0; cam < count; ++cam) {
    const std::vector<std::string> words = next_words();
    const std::size_t index = next - 1;
    if (words.empty())
      throw TervikFileError(file, "ends after " + std::to_string(cam) + " of " +
                                      std::to_string(count) + " cameras");
    if (words.size() != 22)
      throw TervikFileError(file, "line " + std::to_string(index + 1) +
                                      ": expected a name and 21 numbers (K, R, t), found " +
                                      std::to_string(words.size()) + " words");
    const std::vector<double> v =
        line_numbers(std::vector<std::string>(words.begin() + 1, words.end()), file, index);
    double k[3][3], r[3][3], t[3];
    for (int i = 0; i < 9; ++i) {
      k[i / 3][i % 3] = v[i];
      r[i / 3][i % 3] = v[9 + i];
    }
    for (int i = 0; i < 3; ++i) t[i] = v[18 + i];
    const std::string source = at_line(file, index) + " ('" + words[0] + "')";
    long width = options.width, height = options.height;
    if (width == 0 || height == 0) {
      const std::string image = (folder / words[0]).string();
      if (!std::filesystem::is_regular_file(image))
        throw TervikError(source + ": the list holds no image size and the image " + image +
                          " is not there to read it from: give --image-size WIDTHxHEIGHT");
      try {
        const auto dims = io::get_image_dimensions(image, io::get_image_format(image));
        width = static_cast<long>(dims.at(0));
        height = static_cast<long>(dims.at(1));
      } catch (const std::exception& e) {
        throw TervikError(source + ": cannot read the size of the image " + image + " (" +
                          e.what() + "): give --image-size WIDTHxHEIGHT");
      }
    }
    const double no_distortion[4] = {0, 0, 0, 0};
    result.cameras.push_back(
        {source, camera_from_krt(k, r, t, no_distortion, width, height, centres, source)});
  }
  // A count smaller than the list would drop cameras without a word.
  std::size_t extra = 0;
  const std::size_t first_extra = next;
  while (!next_words().empty()) ++extra;
  if (extra > 0) {
    std::size_t index = first_extra;
    while (split_words(lines[index]).empty()) ++index;
    throw TervikFileError(file, "declares " + std::to_string(count) + " cameras but lists " +
                                    std::to_string(count + long(extra)) + " (line " +
                                    std::to_string(index + 1) +
                                    " is past the count): correct the count on the first line");
  }
  return result;
}

}  // namespace tervik::calibration
