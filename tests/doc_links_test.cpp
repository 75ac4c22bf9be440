// The documents' relative links as a reader follows them: every link and picture in the README
// and in docs/ points to a file that exists, and a link to a heading to a heading there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string text(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text outside fenced code blocks, line by line.
std::vector<std::string> prose(const std::string& document) {
    std::vector<std::string> lines;
    std::istringstream in(document);
    bool fenced = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("```", 0) == 0) fenced = !fenced;
        else if (!fenced) lines.push_back(line);
    }
    return lines;
}

// A heading's anchor as the repository's web pages make it: lower case, punctuation other than
// hyphens dropped, spaces as hyphens.
std::string anchorOf(const std::string& heading) {
    std::string a;
    for (unsigned char c : heading) {
        if (std::isalnum(c) || c == '-' || c == '_') a += static_cast<char>(std::tolower(c));
        else if (c == ' ') a += '-';
        else if (c >= 0x80) a += static_cast<char>(c);  // letters beyond ASCII stay
    }
    return a;
}

std::set<std::string> anchorsIn(const fs::path& file) {
    std::set<std::string> anchors;
    for (const std::string& line : prose(text(file))) {
        const std::size_t hashes = line.find_first_not_of('#');
        if (hashes > 0 && hashes <= 6 && hashes != std::string::npos && line[hashes] == ' ')
            anchors.insert(anchorOf(line.substr(hashes + 1)));
    }
    return anchors;
}

TEST(Documents, EveryRelativeLinkPointsToAFileAndHeadingThatExist) {
    const fs::path root = VINTREL_SOURCE_DIR;
    std::vector<fs::path> documents = {root / "README.md"};
    for (const auto& entry : fs::directory_iterator(root / "docs"))
        if (entry.path().extension() == ".md") documents.push_back(entry.path());
    ASSERT_GE(documents.size(), 3u) << "the README, the manual and the guide";
    const std::regex link(R"(\]\(([^)\s]+)\)|src="([^"]+)\")");
    int checked = 0;
    for (const fs::path& document : documents) {
        for (const std::string& line : prose(text(document))) {
            for (std::sregex_iterator m(line.begin(), line.end(), link), end; m != end; ++m) {
                std::string target = (*m)[1].matched ? (*m)[1].str() : (*m)[2].str();
                if (target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0) continue;
                const std::size_t hash = target.find('#');
                const std::string file = target.substr(0, hash), heading = hash == std::string::npos ? "" : target.substr(hash + 1);
                const fs::path to = file.empty() ? document : document.parent_path() / file;
                ++checked;
                ASSERT_TRUE(fs::exists(to)) << document.filename() << ": " << target << " (no such file)";
                if (!heading.empty()) {
                    EXPECT_TRUE(anchorsIn(to).count(heading)) << document.filename() << ": " << target << " (no such heading)";
                }
            }
        }
    }
    EXPECT_GT(checked, 20);
}

// The README stays a front page: the two commands first, and short.
TEST(Documents, TheReadmeIsShortAndStartsWithTheTwoCommands) {
    const std::string readme = text(fs::path(VINTREL_SOURCE_DIR) / "README.md");
    const std::size_t commands = readme.find("scripts/run.sh"), tests = readme.find("scripts/test.sh");
    ASSERT_NE(commands, std::string::npos);
    EXPECT_LT(commands, 200u);
    EXPECT_LT(tests, 300u);
    EXPECT_LE(std::count(readme.begin(), readme.end(), '\n'), 150);
}

}  // namespace
