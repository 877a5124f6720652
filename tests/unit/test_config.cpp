// The configuration commands through the embedded host: report, debug flag, sampling frequency
// and option setter, with exact console and error texts.
#include <cmath>

#include "core/errors.h"
#include "core/thread_pool.h"
#include "gateway/gateway.h"
#include "harness.h"

using config_test = orvel_test;

namespace {
const char* const not_found = "Error: Option not found in program";
const char* const fs_warning =
    "Warning:  Remember to set all pulses in apertures for the new sampling frequency\n";
}  // namespace

TEST_F(config_test, ReportAfterInitShowsEveryDefault) {
  ASSERT_TRUE(orvel_call({5001, 0.0}).ok);
  call_result r = orvel_call({5051});
  ASSERT_TRUE(r.ok);
  const std::string expected =
      std::string() + "Current Orvel configuration:\n\n" + "    " + orvel_version + "\n\n" +
      "    Number of apertures in operation:            0 \n"
      "    Apertures to be defined uses rectangles:     1\n"
      "    Apertures to be defined uses triangles:      0\n"
      "    Apertures to be defined uses bounding lines: 0\n"
      "\n"
      "    Program uses accuracte time calculation for rectangles: 0\n"
      "    Program uses fast integration for lines and triangles:  0\n"
      "\n"
      "    Speed of sound:      1540.0000 m/s \n"
      "    Sampling frequency:   100.0000 MHz \n"
      "    Whether to use attenuation: 0\n"
      "    Frequency independent attenuation is:      0.0000 dB/m\n"
      "    Frequency dependent attenuation around     0.0000 MHz is     0.0000 dB/[m Hz]\n"
      "    Constant tau_m used in attenuation calculation:         20.0000\n"
      "\n"
      "    Step in propagation for non-linear imaging:  5.000000e-04 m \n"
      "    Characteristic acoustic impedance:           1.540000e+06 kg/[m^2 s] \n"
      "    Non-linearity parameter B/A:                     5.2000  \n"
      "    Density of the medium (field maps):           1000.0000 kg/m^3 \n"
      "\n"
      "    Number of bytes reserved:                       0\n"
      "    Maximum number of bytes that has been reserved: 0\n"
      "    Number for next signal to be used:              0\n"
      "    Internal state of the program:                  1\n"
      "    Debug mode enabled:                             0\n"
      "    Last calculation type done:                     0\n"
      "    Whether calculation time should be shown:       1\n"
      "    Seconds between showing times                   5 s\n"
      "    Threads used by a calculation:                  " +
      std::to_string(available_cores()) + "\n" +
      "\n"
      "A boolean value of 1 indicates true, 0 indicates false\n";
  EXPECT_EQ(r.console, expected);
}

TEST_F(config_test, ReportShowsChangedValuesInTheirUnits) {
  init_quiet();
  ASSERT_TRUE(orvel_call({5050, "fs", 40e6}).ok);
  ASSERT_TRUE(orvel_call({5050, "att_f0", 3.5e6}).ok);
  ASSERT_TRUE(orvel_call({5050, "freq_att", 0.5e-6}).ok);
  ASSERT_TRUE(orvel_call({5050, "dz", 0.00125}).ok);
  ASSERT_TRUE(orvel_call({5050, "use_att", 1.0}).ok);
  std::string report = orvel_call({5051}).console;
  EXPECT_NE(report.find("    Sampling frequency:    40.0000 MHz \n"), std::string::npos);
  EXPECT_NE(report.find("    Frequency dependent attenuation around     3.5000 MHz is     0.0000 "
                        "dB/[m Hz]\n"),
            std::string::npos);
  EXPECT_NE(report.find("    Step in propagation for non-linear imaging:  1.250000e-03 m \n"),
            std::string::npos);
  EXPECT_NE(report.find("    Whether to use attenuation: 1\n"), std::string::npos);
  EXPECT_NE(report.find("    Whether calculation time should be shown:       0\n"),
            std::string::npos);  // quiet initialisation
}

TEST_F(config_test, QuietInitSilencesTheSamplingWarning) {
  init_quiet();
  call_result r = orvel_call({5020, 50e6});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(current_sys().fs, 50e6);
  EXPECT_EQ(orvel_call({5050, "fs", 60e6}).console, "");
}

TEST_F(config_test, SamplingFrequencyIsStoredUnroundedWithItsWarning) {
  ASSERT_TRUE(orvel_call({5001, 0.0}).ok);
  call_result r = orvel_call({5020, 33.3e6 + 0.25});
  EXPECT_EQ(r.console, fs_warning);
  EXPECT_EQ(current_sys().fs, 33.3e6 + 0.25);
  // A sampling frequency outside its range is refused when it is set.
  r = orvel_call({5050, "FS", -5.0});
  EXPECT_EQ(
      r.error,
      "Error: The sampling frequency fs must be at least 1000 Hz and at most 1e+12 Hz, but is "
      "-5");
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(current_sys().fs, 33.3e6 + 0.25);
}

TEST_F(config_test, DebugTracesOfTheGeneralCommands) {
  init_quiet();
  EXPECT_EQ(orvel_call({5010, 1.0}).console, "");  // the flag is tested before the change
  EXPECT_EQ(orvel_call({5020, 1e8}).console, "Orvel debug message: Setting sampling frequency \n");
  EXPECT_EQ(orvel_call({5050, "debug", 0.0}).console,
            "Setting option debug in program to     0.0000 \n");  // no command trace
  EXPECT_EQ(current_sys().debug, 0);
  ASSERT_TRUE(orvel_call({5010, 2.0}).ok);
  EXPECT_EQ(orvel_call({5010, 0.0}).console, "Orvel debug message: Setting debug flag \n");
  ASSERT_TRUE(orvel_call({5010, -32768.0}).ok);
  EXPECT_EQ(current_sys().debug, -32768);
}

TEST_F(config_test, TooFewParametersChangeNothing) {
  init_quiet();
  EXPECT_EQ(orvel_call({5010}).error, "Internal Error 5: Too few parameters to set debug flag");
  EXPECT_EQ(orvel_call({5020}).error,
            "Internal Error 5: Too few parameters to set sampling frequency");
  EXPECT_EQ(orvel_call({5050, "c"}).error,
            "Internal Error 5: Too few parameters to set program option");
  EXPECT_EQ(current_sys().debug, 0);
  EXPECT_EQ(current_sys().fs, 100e6);
  EXPECT_EQ(current_sys().c, 1540.0);
}

TEST_F(config_test, ShowTimesSetsFlagAndInterval) {
  init_quiet();
  struct {
    double value;
    int show, interval;
  } cases[] = {{1, 1, 5},   {2, 1, 5},   {3, 1, 3},   {0, 0, 5},  {-4, 0, 5},
               {2.6, 1, 3}, {2.4, 1, 5}, {17, 1, 17}, {0.4, 0, 5}};
  for (const auto& c : cases) {
    ASSERT_TRUE(orvel_call({5050, "show_times", c.value}).ok);
    EXPECT_EQ(current_sys().show_times, c.show) << c.value;
    EXPECT_EQ(current_sys().time_interval, c.interval) << c.value;
  }
}

TEST_F(config_test, ElementKindOptionsExcludeEachOther) {
  init_quiet();
  const sys_con& s = current_sys();
  ASSERT_TRUE(orvel_call({5050, "use_triangles", 1.0}).ok);
  EXPECT_EQ(s.use_triangles, 1);
  EXPECT_EQ(s.use_rectangles, 0);
  EXPECT_EQ(s.use_lines, 0);
  ASSERT_TRUE(orvel_call({5050, "use_rectangles", 0.0}).ok);  // zero turns nothing else off
  EXPECT_EQ(s.use_triangles, 1);
  EXPECT_EQ(s.use_rectangles, 0);
  ASSERT_TRUE(orvel_call({5050, "use_triangles", 0.0}).ok);
  EXPECT_EQ(s.use_triangles + s.use_rectangles + s.use_lines, 0);
  ASSERT_TRUE(orvel_call({5050, "USE_LINES", 1.0}).ok);  // names are case-blind
  EXPECT_EQ(s.use_lines, 1);
  EXPECT_EQ(s.use_triangles + s.use_rectangles, 0);
  ASSERT_TRUE(orvel_call({5050, "Use_Rectangles", 2.0}).ok);
  EXPECT_EQ(s.use_rectangles, 2);
  EXPECT_EQ(s.use_triangles + s.use_lines, 0);
}

TEST_F(config_test, NamesMatchWholeKeysOnly) {
  init_quiet();
  for (const char* name : {"use_line", "use_lines ", "c ", "ATT_", "", "speed"}) {
    call_result r = orvel_call({5050, name, 1.0});
    std::string lowered(name);
    for (char& ch : lowered) ch = static_cast<char>(std::tolower(ch));
    EXPECT_EQ(r.error, std::string(not_found) + "\nThe option name was: " + lowered) << name;
    EXPECT_EQ(r.console, "Trying to set option: " + lowered + " \n") << name;
  }
  EXPECT_EQ(current_sys().use_lines, 0);
  EXPECT_EQ(current_sys().c, 1540.0);
}

// How a value becomes a flag (each option's value read back: GetOptionReturnsTheDoubleInForce).
TEST_F(config_test, FlagsAreRoundedButUseAttIsOnForAnyValueButZero) {
  init_quiet();
  const sys_con& s = current_sys();
  ASSERT_TRUE(orvel_call({5050, "use_att", 0.3}).ok);  // not rounded
  EXPECT_EQ(s.use_att, 1);
  ASSERT_TRUE(orvel_call({5050, "use_att", 0.0}).ok);
  EXPECT_EQ(s.use_att, 0);
  ASSERT_TRUE(orvel_call({5050, "debug", 0.3}).ok);  // rounded
  EXPECT_EQ(s.debug, 0);
  ASSERT_TRUE(orvel_call({5050, "accurate_time_calc", 1.5}).ok);
  EXPECT_EQ(s.accurate_time_calc, 2);
  ASSERT_TRUE(orvel_call({5050, "fast_integration", 0.7}).ok);
  EXPECT_EQ(s.fast_integration, 1);
}

TEST_F(config_test, BadArgumentsAreRefusedAndChangeNothing) {
  init_quiet();
  const sys_con& s = current_sys();
  EXPECT_EQ(orvel_call({5050, 3.0, 1.0}).error, "Error: The option name must be given as text");
  EXPECT_EQ(orvel_call({5050, "c", "1480"}).error,
            "Error: The option value must be real double values (not text, logical, integer, "
            "single, complex or sparse data)");
  EXPECT_EQ(orvel_call({5050, "c", embedded_matrix(0, 1)}).error,
            "Error: The option value is empty; a value is needed");
  EXPECT_EQ(orvel_call({5050, "show_times", std::nan("")}).error,
            "Error: The option value must be finite, but is nan");
  // A matrix is not cut to its first value (a NUL in the name: test_refusals.m).
  EXPECT_EQ(orvel_call({5050, "c", embedded_matrix(1, 2, {1, 2})}).error,
            "Error: The option value must be one number (1 x 1), but is a 1 x 2 matrix");
  for (const char* name : {"c", "fs"})
    EXPECT_EQ(orvel_call({5050, name, 0.0}).error.rfind("Error: The ", 0), 0u) << name;
  EXPECT_EQ(orvel_call({5020, -1e6}).error,
            "Error: The sampling frequency must be at least 1000 Hz and at most 1e+12 Hz, but is "
            "-1e+06");
  EXPECT_EQ(orvel_call({5050, "use_att", INFINITY}).error,
            "Error: The option value must be finite, but is inf");
  EXPECT_EQ(orvel_call({5050, "show_times", 3e9}).error,
            "Error: The option show_times must be a finite whole number within the 32-bit range, "
            "but is 3000000000");
  EXPECT_EQ(
      orvel_call({5010, INFINITY}).error,
      "Error: The debug flag must be a whole number from -32768 to 32767 (0 is off, any other "
      "value on), but is inf");
  EXPECT_FALSE(orvel_call({5020, "fs"}).ok);
  EXPECT_EQ(s.c, 1540.0);
  EXPECT_EQ(s.show_times, 0);
  EXPECT_EQ(s.time_interval, 5);
  EXPECT_EQ(s.debug, 0);
  EXPECT_EQ(s.fs, 100e6);
}

// Every option is refused just outside its range and taken at its bounds; a flag is refused
// where a cut to 16 bits would change it (65536 would clear a flag that was asked set).
TEST_F(config_test, OptionsAreRefusedOutsideTheirRanges) {
  init_quiet();
  struct {
    const char* name;
    double sys_con::*field;
    double lowest, highest, below, above;
    const char* text;
  } cases[] = {
      {"c", &sys_con::c, 10, 1e5, 9.99, 1.0001e5,
       "The speed of sound c must be at least 10 m/s and at most 100000 m/s"},
      {"fs", &sys_con::fs, 1e3, 1e12, 999, 1.1e12,
       "The sampling frequency fs must be at least 1000 Hz and at most 1e+12 Hz"},
      {"att", &sys_con::att, 0, 1e5, -1e-9, 1.1e5,
       "The frequency independent attenuation att must be at least 0 dB/m and at most 100000 "
       "dB/m"},
      {"freq_att", &sys_con::freq_att, 0, 1e-2, -1e-12, 0.011,
       "The frequency dependent attenuation freq_att must be at least 0 dB/(m Hz) and at most "
       "0.01 dB/(m Hz)"},
      {"att_f0", &sys_con::att_f0, 0, 5e11, -1, 6e11,
       "The attenuation centre frequency att_f0 must be at least 0 Hz and at most 5e+11 Hz"},
      {"tau_m", &sys_con::tau_m, -100, 100, -101, 101,
       "The constant tau_m must be at least -100 and at most 100"},
      {"z", &sys_con::z, 1e-300, 1e9, 0, 1.1e9,
       "The characteristic acoustic impedance z must be greater than 0 kg/(m^2 s) and at most "
       "1e+09 kg/(m^2 s)"},
      {"dz", &sys_con::dz, 1e-300, 1, 0, 1.5,
       "The propagation step dz must be greater than 0 m and at most 1 m"},
      {"bdiva", &sys_con::BdivA, -1e4, 1e4, -10001, 10001,
       "The non-linearity parameter BdivA must be at least -10000 and at most 10000"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(orvel_call({5050, c.name, c.lowest}).ok) << c.name;
    EXPECT_TRUE(orvel_call({5050, c.name, c.highest}).ok) << c.name;
    for (double v : {c.below, c.above})
      EXPECT_EQ(orvel_call({5050, c.name, v}).error, format_text("Error: %s, but is %g", c.text, v))
          << c.name;
    EXPECT_EQ(current_sys().*c.field, c.highest) << c.name;
  }
  for (const char* flag : {"debug", "accurate_time_calc", "fast_integration", "use_rectangles",
                           "use_triangles", "use_lines"}) {
    EXPECT_TRUE(orvel_call({5050, flag, 32767.0}).ok) << flag;
    EXPECT_TRUE(orvel_call({5050, flag, -32768.0}).ok) << flag;
    EXPECT_EQ(orvel_call({5050, flag, 65536.0}).error,
              format_text("Error: The option %s must be a whole number from -32768 to 32767 (0 is "
                          "off, any other value on), but is 65536",
                          flag));
    ASSERT_TRUE(orvel_call({5050, flag, 0.0}).ok);
  }
  EXPECT_EQ(current_sys().use_rectangles, 0);    // cleared last by the cases above, not by 65536
  EXPECT_FALSE(orvel_call({5010, 32767.5}).ok);  // rounds to 32768
}

TEST_F(config_test, LongOptionNamesAreRefusedNotCut) {
  init_quiet();
  EXPECT_EQ(orvel_call({5050, std::string(500, 'x').c_str(), 1.0}).error,
            "Error: The option name must be at most 199 characters long, but has 500");
  EXPECT_EQ(orvel_call({5050, std::string(199, 'x').c_str(), 1.0}).error,
            std::string(not_found) + "\nThe option name was: " + std::string(199, 'x'));
}

namespace {
double get_option(const char* name) {
  call_result r = orvel_call({7001, name}, 1);
  EXPECT_TRUE(r.ok) << name << ": " << r.error;
  return r.ok ? r.at(0, 0) : std::nan("");
}
}  // namespace

// orvel_info prints fs as %10.4f MHz: 100/3 MHz read back from it was off by 3.3 Hz.
TEST_F(config_test, GetOptionReturnsTheDoubleInForce) {
  init_quiet();
  ASSERT_TRUE(orvel_call({5020, 100e6 / 3}).ok);
  EXPECT_EQ(get_option("fs"), 100e6 / 3);
  const std::pair<const char*, double> values[] = {
      {"c", 1540.0 / 3},   {"att", 0.1 / 3},      {"freq_att", 1e-6 / 3}, {"att_f0", 1e7 / 3},
      {"tau_m", -2.0 / 3}, {"z", 1.6e6 / 3},      {"dz", 1e-3 / 3},       {"BdivA", 20.0 / 3},
      {"fs", 4e7 / 7},     {"use_att", 1.0},      {"debug", 0.0},         {"threads", 3.0},
      {"show_times", 7.0}, {"use_triangles", 1.0}};
  for (const auto& [name, value] : values) {
    ASSERT_TRUE(orvel_call({5050, name, value}).ok) << name;
    EXPECT_EQ(get_option(name), value) << name;
  }
  EXPECT_EQ(get_option("USE_RECTANGLES"), 0.0);  // cleared by use_triangles; any case
  EXPECT_EQ(get_option("accurate_time_calc"), 0.0);
  ASSERT_TRUE(orvel_call({5050, "fast_integration", -3.0}).ok);
  EXPECT_EQ(get_option("fast_integration"), -3.0);
  ASSERT_TRUE(orvel_call({5050, "show_times", 2.0}).ok);  // shown every 5 s
  EXPECT_EQ(get_option("show_times"), 5.0);
  ASSERT_TRUE(orvel_call({5050, "show_times", -1.0}).ok);
  EXPECT_EQ(get_option("show_times"), 0.0);
}

TEST_F(config_test, GetOptionRefusesWhatItCannotRead) {
  init_quiet();
  EXPECT_EQ(orvel_call({7001}, 1).error,
            "Error: get_option needs the name of an option, as set_option takes it");
  EXPECT_EQ(orvel_call({7001, "speed"}, 1).error,
            "Error: There is no option named speed; the options are use_att, att, freq_att, "
            "att_f0, tau_m, z, dz, bdiva, rho, debug, accurate_time_calc, fast_integration, "
            "show_times, use_rectangles, use_triangles, use_lines, c, fs, threads");
  EXPECT_EQ(orvel_call({7001, 3.0}, 1).error, "Error: The option name must be given as text");
  EXPECT_EQ(orvel_call({7099}, 1).error,
            "Internal Error 4: Illegal function_code found in Orvel_mex, module Orvel commands.");
}
