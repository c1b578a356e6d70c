// Chooser.ShowDialog shown by the test's own thread while another drives it: the
// fixture of the chooser's form and tree tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "chooser_dialog.h"
#include "com_test_util.h"
#include "sim/sim_client.h"

class ChooserDialog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(chooser_); }

  // ShowDialog while `drive` works the dialog from a second thread.
  bool Show(std::function<void(const Dialog&)> drive) {
    DialogDriver driver(std::move(drive));
    VARIANT_BOOL selected = VARIANT_TRUE;
    EXPECT_EQ(chooser_->ShowDialog(&selected), S_OK);
    driver.Join();
    EXPECT_TRUE(driver.SawDialog());
    VARIANT_BOOL stored = VARIANT_TRUE;
    chooser_->get_IsDeviceSelected(&stored);
    EXPECT_EQ(stored, selected);
    return selected == VARIANT_TRUE;
  }

  // The same once the simulator listens again on every instrument the last fill closed.
  bool Show(velcorin::sim::SimClient& sim, std::function<void(const Dialog&)> drive) {
    EXPECT_TRUE(sim.WaitUntilAllFree());
    return Show(std::move(drive));
  }

  std::wstring ChosenPath() {
    BSTR path = nullptr;
    chooser_->get_DevicePath(&path);
    std::wstring text = Text(path);
    SysFreeString(path);
    return text;
  }

  ComPtr<_Chooser> chooser_ = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
};
