#pragma once
// The camera list of --camera-ids: which camera numbers a capture's file templates use, in the
// order the cameras are taken. "1-16" is the cameras 1 to 16; "0-4,6-19" leaves camera 5 out;
// "12,3,7" takes the cameras in that order. Entries are separated by commas; an entry is a camera
// number or a range "first-last" with first <= last. Numbers are decimal, from 0.
#include <cstddef>
#include <string>
#include <vector>

namespace tervik {

// The most cameras one list may name, so that a mistyped range cannot ask for billions.
inline constexpr std::size_t kMaxCameraIds = 100000;

// Parses the value of --camera-ids into the camera numbers in the order given. Throws
// TervikError quoting the text (and the offending entry) for an empty list or entry, anything
// that is not a decimal number or range, a negative number, a reversed range, a number that
// appears twice, a number above 2^31-1, or more than kMaxCameraIds cameras.
std::vector<int> parse_camera_ids(const std::string& text);

// How a message names the camera at position `index` (from 0) of the cameras a program uses:
// "camera 7" without a list, "camera 7 (entry 4 of --camera-ids)" with one. With an empty `ids`
// the camera number is the index itself.
std::string camera_id_label(const std::vector<int>& ids, std::size_t index);

}  // namespace tervik
