// The --camera-ids list: numbers and ranges in the order given, and a message that quotes the
// text for every kind of mistake.
#include <gtest/gtest.h>

#include "common/camera_ids.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

std::string error_of(const std::string& text) {
  try {
    parse_camera_ids(text);
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(CameraIds, NumbersAndRangesInTheOrderGiven) {
  EXPECT_EQ(parse_camera_ids("1-4"), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(parse_camera_ids("0-2,4-5"), (std::vector<int>{0, 1, 2, 4, 5}));
  EXPECT_EQ(parse_camera_ids("12,3,7-7"), (std::vector<int>{12, 3, 7}));
  EXPECT_EQ(parse_camera_ids(" 8 , 2 - 3 "), (std::vector<int>{8, 2, 3}));
  EXPECT_EQ(parse_camera_ids("0"), std::vector<int>{0});
  EXPECT_EQ(parse_camera_ids("2147483647"), std::vector<int>{2147483647});
  // Leading zeros are decimal, never octal.
  EXPECT_EQ(parse_camera_ids("010"), std::vector<int>{10});
  EXPECT_EQ(parse_camera_ids("0-15").size(), 16u);
}

TEST(CameraIds, MistakesQuoteTheText) {
  EXPECT_EQ(error_of(""), "--camera-ids '': empty camera list");
  EXPECT_EQ(error_of(" "), "--camera-ids ' ': empty camera list");
  EXPECT_EQ(error_of("1,,3"), "--camera-ids '1,,3': empty entry");
  EXPECT_EQ(error_of("1-4,"), "--camera-ids '1-4,': empty entry");
  EXPECT_EQ(error_of("5-2"), "--camera-ids '5-2': reversed range '5-2'");
  EXPECT_EQ(error_of("-1"), "--camera-ids '-1': negative camera number in '-1'");
  EXPECT_EQ(error_of("0--3"), "--camera-ids '0--3': negative camera number in '0--3'");
  EXPECT_EQ(error_of("0-4,3"), "--camera-ids '0-4,3': camera 3 appears twice");
  EXPECT_EQ(error_of("1,x"), "--camera-ids '1,x': entry 'x' is not a camera number or range "
                             "first-last");
  for (const char* garbage : {"1.5", "0x3", "+2", "1-", "1-2-3", "one", "3a"}) {
    EXPECT_NE(error_of(garbage).find("is not a camera number"), std::string::npos) << garbage;
  }
  EXPECT_EQ(error_of("2147483648"), "--camera-ids '2147483648': camera number in '2147483648' "
                                    "is too large");
  EXPECT_EQ(error_of("0-99999999"), "--camera-ids '0-99999999': more than 100000 cameras");
}

TEST(CameraIds, LabelNamesTheListEntry) {
  EXPECT_EQ(camera_id_label({}, 3), "camera 3");
  EXPECT_EQ(camera_id_label({1, 2, 7}, 2), "camera 7 (entry 3 of --camera-ids)");
  EXPECT_THROW(camera_id_label({1, 2}, 2), TervikError);
}

}  // namespace
}  // namespace tervik
