#pragma once
// The bodies of the fuzz targets, one per parser a user can feed. Each writes the input bytes
// to a scratch file (the parsers read files), runs the parser on it and accepts the library's
// own exceptions as rejections; any other exception, a crash or a sanitizer report is a
// finding. Each returns the number of parser calls that rejected the input (0: all accepted).
// The libFuzzer programs (*_fuzz.cpp) and the corpus regression test call them.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tervik::fuzz {

// The folder for the scratch files: /dev/shm when it exists, else the system's temporary
// folder; a test sets its own.
void set_scratch_folder(const std::string& folder);

int calibration(const std::uint8_t* data, std::size_t size);  // Camera::read_parameters
int png_image(const std::uint8_t* data, std::size_t size);    // ReadImage, grey and colour
int jpeg_image(const std::uint8_t* data, std::size_t size);
int tiff_image(const std::uint8_t* data, std::size_t size);
int points(const std::uint8_t* data, std::size_t size);       // weaver's point reader
int mesh(const std::uint8_t* data, std::size_t size);         // read_mesh
int ply(const std::uint8_t* data, std::size_t size);          // read_ply; parse_ply in
                                                              // pieces on threads agrees
int multiarray(const std::uint8_t* data, std::size_t size);   // ReadMultiArray, PortableFloat
int rle(const std::uint8_t* data, std::size_t size);          // Rle, also round trips
// The camera importers: a COLMAP text model (cameras.txt, then a line "%%", then images.txt;
// without that line the bytes are both files), OpenCV FileStorage (the bytes as .yml and as
// .xml), and the text lists (the bytes as a Middlebury list, projection matrices and a K R t
// list).
int colmap(const std::uint8_t* data, std::size_t size);
int opencv(const std::uint8_t* data, std::size_t size);
int camera_lists(const std::uint8_t* data, std::size_t size);
// File-name templates: byte 0 chooses the arity and the values, the rest is the template.
int name_template(const std::uint8_t* data, std::size_t size);
// Leading options: the bytes split at NUL bytes are the arguments after the program name.
int leading_options(const std::uint8_t* data, std::size_t size);
int ground_truth(const std::uint8_t* data, std::size_t size);  // the scorer's truth file
// A glTF binary file (read_glb, its base-colour image); a file it accepts is written again
// with encode_glb and must read back the same.
int glb(const std::uint8_t* data, std::size_t size);
// make_player's frame reader: where its fast path takes the bytes, the full PLY reader must
// give the same mesh.
int frame_ply(const std::uint8_t* data, std::size_t size);

}  // namespace tervik::fuzz
