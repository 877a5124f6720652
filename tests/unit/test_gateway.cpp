// Entry point and lifecycle through the embedded host: decoding of codes, the init check, the
// module tables, initialisation modes, end and the unload hook.
#include <cmath>
#include <limits>
#include <sstream>

#include "gateway/gateway.h"
#include "harness.h"

namespace {
const char* const init_check =
    "Error: You must call orvel_init as the first procedure to initialize orvel";
const char* const illegal_main = "Internal Error 3: Illegal main_code found in Orvel_mex.";
const char* const illegal_transducer =
    "Internal Error 4: Illegal function_code found in Orvel_mex, module Transducer commands.";
const char* const illegal_calculation =
    "Internal Error 4: Illegal function_code found in Orvel_mex, module Field calculation.";
const char* const illegal_general =
    "Internal Error 4: Illegal function_code found in Orvel_mex, module General commands.";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
}  // namespace

using gateway_test = orvel_test;

TEST_F(gateway_test, CallWithoutArgumentsIsInternalError1InEveryState) {
  const char* text = "Internal Error 1: Orvel_mex must be called with at least one argument";
  EXPECT_EQ(orvel_call({}).error, text);
  init_quiet();
  EXPECT_EQ(orvel_call({}).error, text);
}

TEST_F(gateway_test, EverythingButInitIsRefusedBeforeInitialisation) {
  for (double code : {5002.0, 5051.0, 5010.0, 1001.0, 4002.0, 1006.0, -4001.0, 9999.0}) {
    call_result r = orvel_call({code, 1.0, 2.0});
    EXPECT_FALSE(r.ok) << code;
    EXPECT_EQ(r.error, init_check) << code;
    EXPECT_EQ(r.console, "") << code;
  }
}

TEST_F(gateway_test, CodesAreRoundedBeforeDecoding) {
  EXPECT_TRUE(orvel_call({5000.5, -1}).ok);  // 5001
  EXPECT_TRUE(orvel_call({5001.6}).ok);      // 5002 ends the system
  EXPECT_FALSE(orvel_initialised());
  EXPECT_TRUE(orvel_call({5001.4, -1}).ok);  // 5001
  EXPECT_TRUE(orvel_initialised());
  EXPECT_EQ(orvel_call({1000.49}).error, illegal_transducer);  // 1000
  call_result report = orvel_call({5050.5});                   // 5051
  EXPECT_TRUE(report.ok);
  EXPECT_EQ(report.console.rfind("Current Orvel configuration:", 0), 0u);
}

TEST_F(gateway_test, MainCodesOutsideTheModulesAreInternalError3) {
  init_quiet();
  for (double code : {-4001.0, -1.0, 0.0, 499.0, 2001.0, 3001.0, 6001.0, 8001.0, 1e9}) {
    EXPECT_EQ(orvel_call({code}).error, illegal_main) << code;
  }
}

TEST_F(gateway_test, UnknownFunctionCodesNameTheirModule) {
  init_quiet();
  for (double code : {1000.0, 1006.0, 1015.0, 1064.0, 1067.0, 1102.0, 1999.0})
    EXPECT_EQ(orvel_call({code}).error, illegal_transducer) << code;
  for (double code : {4000.0, 4004.0, 4008.0, 4011.0, 4016.0})
    EXPECT_EQ(orvel_call({code}).error, illegal_calculation) << code;
  for (double code : {5000.0, 5003.0, 5011.0, 5052.0})
    EXPECT_EQ(orvel_call({code}).error, illegal_general) << code;
}

TEST_F(gateway_test, BadCommandCodesAreRefusedBeforeAnything) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::string text =
      "Error: The command code must be a finite whole number within the 32-bit range, but is ";
  const std::pair<double, const char*> codes[] = {{std::nan(""), "nan"},
                                                  {inf, "inf"},
                                                  {-inf, "-inf"},
                                                  {2147483647.5, "2147483647.5"},
                                                  {-2147483649.0, "-2147483649"},
                                                  {1e300, "1e+300"}};
  for (const auto& [code, shown] : codes) EXPECT_EQ(orvel_call({code}).error, text + shown);
  EXPECT_EQ(orvel_call({embedded_matrix(1, 2, {5001, 5002}), -1}).error,
            "Error: The command code must be one number (1 x 1), but is a 1 x 2 matrix");
  // Codes of other classes than a full real double: test_lifecycle.m, with Octave's own.
  EXPECT_EQ(orvel_call({embedded_matrix(0, 0), -1}).error,
            "Error: The command code is empty; a value is needed");
  EXPECT_FALSE(orvel_initialised());
}

TEST_F(gateway_test, SecondInitIsRefusedAndKeepsEverything) {
  init_quiet();
  ASSERT_TRUE(orvel_call({5050, "c", 1480.0}).ok);
  call_result r = orvel_call({5001, 0.0});
  EXPECT_EQ(r.error,
            "Orvel error: Orvel already initialized. Call orvel_end before reinitializing.");
  EXPECT_EQ(r.console, "");  // no banner
  EXPECT_EQ(current_sys().c, 1480.0);
  EXPECT_EQ(current_sys().quiet, 1);
}

TEST_F(gateway_test, InitWithoutModeIsInternalError5AndLeavesTheSystemDown) {
  EXPECT_EQ(orvel_call({5001}).error, "Internal Error 5: Too few parameters to initialize program");
  EXPECT_EQ(orvel_call({5051}).error, init_check);
  EXPECT_EQ(orvel_call({5001, std::nan("")}).error,
            "Error: The display mode must be a finite whole number within the 32-bit range, but is "
            "nan");
  EXPECT_EQ(orvel_call({5051}).error, init_check);
}

TEST_F(gateway_test, EndTwiceGivesTheInitCheckTheSecondTime) {
  init_quiet();
  call_result first = orvel_call({5002});
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.console, "");
  EXPECT_EQ(orvel_call({5002}).error, init_check);
}

TEST_F(gateway_test, UnloadAfterEndPrintsNothing) {
  init_quiet();
  ASSERT_TRUE(orvel_call({5002}).ok);
  embedded_unload();
  EXPECT_EQ(embedded_console_take(), "");
}

TEST_F(gateway_test, UnloadOfAnInitialisedModulePrintsThreeLinesAndReleases) {
  init_quiet();
  embedded_unload();
  EXPECT_EQ(embedded_console_take(),
            "Orvel is terminating due to a break in the program.\n"
            "The memory is being released now.\n"
            "You must call orvel_init before you can use Orvel again.\n");
  EXPECT_FALSE(orvel_initialised());
  EXPECT_EQ(orvel_call({5051}).error, init_check);
  embedded_unload();  // the hook runs once per registration
  EXPECT_EQ(embedded_console_take(), "");
}

TEST_F(gateway_test, ReinitialisationStartsFromTheDefaults) {
  init_quiet();
  ASSERT_TRUE(orvel_call({5050, "c", 1480.0}).ok);
  ASSERT_TRUE(orvel_call({5050, "use_triangles", 1.0}).ok);
  ASSERT_TRUE(orvel_call({5010, 1.0}).ok);
  ASSERT_TRUE(orvel_call({5002}).ok);
  ASSERT_TRUE(orvel_call({5001, 0.0}).ok);
  const sys_con& sys = current_sys();
  EXPECT_EQ(sys.c, 1540.0);
  EXPECT_EQ(sys.use_triangles, 0);
  EXPECT_EQ(sys.use_rectangles, 1);
  EXPECT_EQ(sys.debug, 0);
  EXPECT_EQ(sys.quiet, 0);
  EXPECT_EQ(sys.show_times, 1);
  EXPECT_EQ(sys.state, 1);
}

TEST_F(gateway_test, PositiveModeEvaluatesTheLogoThenPrintsTheBanner) {
  call_result r = orvel_call({5001, 1.0});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(embedded_evaluations_take(), std::vector<std::string>{"orvel_logo;"});
  std::vector<std::string> lines = lines_of(r.console);
  ASSERT_EQ(lines.size(), 15u);
  const std::string rule = "      *" + std::string(60, '-') + "*";
  EXPECT_EQ(lines.front(), rule);
  EXPECT_EQ(lines.back(), rule);
  int blank = 0;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 6u + 62u) << lines[i];
    EXPECT_EQ(lines[i].substr(0, 7), "      *");
    EXPECT_EQ(lines[i].back(), '*');
    if (lines[i] == "      *" + std::string(60, ' ') + "*") ++blank;
  }
  EXPECT_EQ(blank, 5);
  EXPECT_EQ(current_sys().quiet, 0);
  EXPECT_EQ(current_sys().show_times, 1);
}

// Host code run by a command (here the logo) that calls the module again is refused, and the
// running command completes with its own state: the second initialisation and the end it tries
// would otherwise write into or free the records the first one is making.
TEST_F(gateway_test, CallsFromHostCodeThatACommandRunsAreRefused) {
  std::vector<std::string> refusals;
  embedded_on_evaluation([&](const std::string&) {
    for (double code : {5002.0, 5001.0}) refusals.push_back(orvel_call({code, -1.0}).error);
  });
  const call_result r = orvel_call({5001, 1.0});
  embedded_on_evaluation(nullptr);
  ASSERT_TRUE(r.ok) << r.error;
  const std::string refused =
      "Error: Orvel_mex was called while one of its commands was running (from host code that "
      "the command ran, such as drawnow or orvel_logo); the call is refused";
  EXPECT_EQ(refusals, std::vector<std::string>(2, refused));
  EXPECT_EQ(current_sys().show_times, 1);  // the first initialisation's settings
  EXPECT_TRUE(orvel_call({5051}).ok);
}

TEST_F(gateway_test, ModeZeroPrintsOnlyTheBannerAndNegativeModeNothing) {
  call_result banner = orvel_call({5001, 0.0});
  EXPECT_EQ(lines_of(banner.console).size(), 15u);
  EXPECT_TRUE(embedded_evaluations_take().empty());
  ASSERT_TRUE(orvel_call({5002}).ok);
  call_result quiet = orvel_call({5001, -0.6});  // rounds to -1
  EXPECT_EQ(quiet.console, "");
  EXPECT_TRUE(embedded_evaluations_take().empty());
  EXPECT_EQ(current_sys().quiet, 1);
  EXPECT_EQ(current_sys().show_times, 0);
  ASSERT_TRUE(orvel_call({5002}).ok);
  ASSERT_TRUE(orvel_call({5001, -0.4}).ok);  // rounds to 0: banner, not quiet
  EXPECT_EQ(current_sys().quiet, 0);
}
