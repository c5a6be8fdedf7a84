#include "host/launch.hpp"

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

TEST(QuitScript, OneLinePerApplicationInProcessOrder) {
  const std::vector<std::string> lines = {
      "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro 2025.app/Contents/MacOS/Adobe Premiere Pro 2025",
      "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro 2025.app/Contents/MacOS/Adobe Premiere Pro 2025",
      "/Applications/Adobe Premiere Pro 2024/Adobe Premiere Pro 2024.app/Contents/MacOS/Adobe Premiere Pro 2024",
      "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro 2025.app/Contents/MacOS/Adobe Premiere Pro 2025",
  };
  // Only adjacent repeats go; nothing is sorted.
  EXPECT_EQ(app_names(lines), (std::vector<std::string>{"Adobe Premiere Pro 2025",
                                                        "Adobe Premiere Pro 2024",
                                                        "Adobe Premiere Pro 2025"}));
  EXPECT_EQ(quit_script({"Adobe Premiere Pro 2025", "Adobe Premiere Pro 2024"}),
            "tell application \"Adobe Premiere Pro 2025\" to quit\n"
            "tell application \"Adobe Premiere Pro 2024\" to quit");
  EXPECT_EQ(quit_script({}), "");
  EXPECT_EQ(app_names({"no slash"}), std::vector<std::string>{"no slash"});
}

TEST(QuitScript, HostileNamesStayInsideTheirString) {
  // A program any local user can start, named to break out of the literal.
  const std::string hostile =
      "Adobe Premiere Pro\" to quit\ndo shell script \"touch /tmp/owned\" --";
  const std::string script = quit_script({hostile});
  EXPECT_EQ(script,
            "tell application \"Adobe Premiere Pro\\\" to quit\ndo shell script \\\"touch "
            "/tmp/owned\\\" --\" to quit");
  // A backslash cannot be used to un-escape the quote that follows it.
  EXPECT_EQ(quit_script({"Adobe Premiere Pro\\\" & x"}),
            "tell application \"Adobe Premiere Pro\\\\\\\" & x\" to quit");

  // Every unescaped quote of the script is one of the two that delimit each name.
  for (const std::string& name : {hostile, std::string("a\\\\\"\\"), std::string("\"\"\\")}) {
    const std::string s = quit_script({name});
    int delimiters = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] != '"') continue;
      std::size_t backslashes = 0;
      while (backslashes < i && s[i - 1 - backslashes] == '\\') ++backslashes;
      if (backslashes % 2 == 0) ++delimiters;
    }
    EXPECT_EQ(delimiters, 2) << s;
  }
}

TEST(OpenArguments, BackgroundOnlyWhenAskedAndProjectLast) {
  const std::string project = "/p/x.prproj";
  EXPECT_EQ(open_arguments("/A/P.app", nullptr, true), (std::vector<std::string>{"-a", "/A/P.app"}));
  EXPECT_EQ(open_arguments("/A/P.app", &project, false),
            (std::vector<std::string>{"-g", "-a", "/A/P.app", "/p/x.prproj"}));
}

}  // namespace
}  // namespace cutrelay
