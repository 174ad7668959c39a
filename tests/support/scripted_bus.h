// The test fixture of the commands and the console's runs: a simulated bus
// with one scripted drive behind pass-through, a device manager over it set
// as the program's (g_pDeviceManager), and the disc globals at their start
// values. A test class that needs more calls ScriptedBusTest::SetUp first.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "commands/disc_globals.h"
#include "device/device_manager.h"
#include "tests/support/scripted_drive.h"

class ScriptedBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = std::make_shared<CSimulatedHost>(PassThroughConfig({&drive}));
    manager = std::make_unique<CDeviceManager>(host);
    ASSERT_TRUE(manager->Initialize());
    manager->EnumerateDrives();
    ASSERT_EQ(manager->GetDriveCount(), 1);
    g_pDeviceManager = manager.get();
    ResetDiscGlobals();
  }
  void TearDown() override { g_pDeviceManager = nullptr; }

  // Declared in this order so the manager goes first and the drive last.
  ScriptedDrive drive;
  std::shared_ptr<CSimulatedHost> host;
  std::unique_ptr<CDeviceManager> manager;
};
