// Simulated instruments of one family that misbehave as their keys say, and the
// time limits they are measured against: what the hostile-instrument tests and
// the chooser's tests over such instruments work with.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "com_test_util.h"
#include "sim/sim_client.h"

using Clock = std::chrono::steady_clock;

constexpr double kLimit = 1.0;  // seconds per read, the component's time limit
constexpr double kSlack = 2.0;  // for a loaded machine under Wine

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline void Figure(const char* what, double seconds) {
  printf("[ figure ] %s: %.3f s\n", what, seconds);
  testing::Test::RecordProperty(what, std::to_string(seconds));
}

// One instrument of the family: two named channels unless the keys say otherwise.
struct Plan {
  std::string serial;
  std::string keys;
};

using Plans = std::vector<Plan>;

inline std::string ConfigOf(const Plans& plans) {
  std::string text;
  for (const Plan& s : plans) {
    text += "[" + s.serial + "]\nserial = " + s.serial + "\nmodel = M-" + s.serial +
            "\nfirmware = 1.0\ntype = 0x3001\nchannels = 2\ndescription = Hostile\n"
            "channel1 = Laser A\nchannel2 = Laser B\n" +
            s.keys + "\n";
  }
  return text;
}

struct OpenOutcome {
  HRESULT hr = E_FAIL;
  bool opened = false;
  double seconds = 0;
};

// Our collection, as scripts get it: from a self-creating property.
struct Listing {
  HRESULT hr = E_FAIL;
  bool listed = false;
  double seconds = 0;
  std::vector<std::string> serials;  // sorted
};

inline Listing EnumerateNow(_Device* device) {
  auto found = NewList();
  auto filters = NewList();
  Listing listing;
  VARIANT_BOOL listed = VARIANT_FALSE;
  const auto start = Clock::now();
  listing.hr = device->EnumDevices(found.Get(), filters.Get(), &listed);
  listing.seconds = SecondsSince(start);
  listing.listed = listed == VARIANT_TRUE;
  listing.serials = SerialsOf(found.Get());
  std::sort(listing.serials.begin(), listing.serials.end());
  return listing;
}

// The simulated instruments and Devices to meet them with.
struct Lab {
  velcorin::sim::SimClient sim;

  explicit Lab(const std::vector<Plan>& plans) : sim(ConfigOf(plans)) {}

  // The simulator listens again only a moment after a handle closes: an open
  // right after a close would find the instrument busy.
  Listing Enumerate(_Device* device) {
    sim.WaitUntilAllFree();
    return EnumerateNow(device);
  }

  OpenOutcome Open(_Device* device, const std::string& serial) {
    sim.WaitUntilFree(serial);
    const Bstr path(Widened(sim.DevicePath(serial)));
    OpenOutcome outcome;
    VARIANT_BOOL opened = VARIANT_FALSE;
    const auto start = Clock::now();
    outcome.hr = device->OpenDev(path.get(), &opened);
    outcome.seconds = SecondsSince(start);
    outcome.opened = opened == VARIANT_TRUE;
    return outcome;
  }
};
