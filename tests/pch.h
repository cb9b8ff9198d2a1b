#pragma once
// Headers that nearly every test program includes, precompiled once for all of them: parsing
// GoogleTest and Boost.MultiArray again in each of the test programs dominated the build time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/multi_array.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
