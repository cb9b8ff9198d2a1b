#include "sculptor/run_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "tervik/exceptions.h"

namespace tervik {

namespace {

using FileId = std::pair<dev_t, ino_t>;

bool file_id(const std::string& file, FileId& id) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

// The folder part of `file`: "." for a bare name, "/" for a file in the root.
std::string folder_of(const std::string& file) {
  const std::size_t slash = file.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

// The view number substituted for camera i.
std::int64_t camera_number(const Options& o, std::int64_t i) {
  return o.camera_ids.empty() ? i : o.camera_ids[static_cast<std::size_t>(i)];
}

}  // namespace

void check_run_files(const Options& o) {
  const std::int64_t last =
      std::min<std::int64_t>(o.last_frame, o.first_frame + kMaxCheckedFrames - 1);
  // 1. Every output file's folder, each folder once.
  std::map<FileId, std::pair<std::string, std::int64_t>> outputs;  // existing ones, by file
  std::string checked;
  for (std::int64_t f = o.first_frame; f <= last; ++f) {
    const std::string file = o.outtemplate.format(f);
    const std::string folder = folder_of(file);
    if (folder != checked) {
      struct stat st;
      if (::stat(folder.c_str(), &st) != 0)
        throw TervikError("the folder '" + folder + "' of the output file '" + file +
                          "' (frame " + std::to_string(f) + ") does not exist");
      if (!S_ISDIR(st.st_mode))
        throw TervikError("'" + folder + "', the folder of the output file '" + file +
                          "' (frame " + std::to_string(f) + "), is not a folder");
      checked = folder;
    }
    FileId id;
    if (file_id(file, id)) outputs.emplace(id, std::make_pair(file, f));
  }
  if (outputs.empty()) return;  // an input that exists cannot be replaced

  // 2. The inputs that exist, against the output files that exist.
  const auto refuse_if_output = [&](const std::string& input, const std::string& what) {
    FileId id;
    if (!file_id(input, id)) return;
    const auto hit = outputs.find(id);
    if (hit == outputs.end()) return;
    throw TervikError("the output file '" + hit->second.first + "' of frame " +
                      std::to_string(hit->second.second) + " is the " + what + " '" + input +
                      "': writing it would replace an input of the run");
  };
  for (std::int64_t i = 0; i < o.numcams; ++i) {
    const std::int64_t cam = camera_number(o, i);
    const std::string name = "camera " + std::to_string(cam);
    refuse_if_output(o.camtemplate.format(cam), "calibration file of " + name);
    for (std::int64_t f = o.first_frame; f <= last; ++f) {
      const std::string of = " of " + name + ", frame " + std::to_string(f);
      refuse_if_output(o.fgtemplate.format(cam, f), "silhouette" + of);
      refuse_if_output(o.imtemplate.format(cam, f), "colour image" + of);
    }
  }
}

}  // namespace tervik
