// The worked example of the publishing guide (docs/publishing.md) read by the parser: the guide's
// tables of the records and headers the program holds must be what it really holds, so that the
// guide cannot drift from the program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "patchlist/patch_list.h"
#include "support/process_globals.h"

namespace {

using Row = std::vector<std::string>;

std::string ReadGuide() {
    std::ifstream in(QX_SOURCE_DIR "/docs/publishing.md", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The lines that follow the line holding marker, up to the first blank line after them.
std::vector<std::string> LinesAfter(const std::string& guide, const std::string& marker) {
    std::vector<std::string> lines;
    const size_t at = guide.find(marker);
    if (at == std::string::npos) {
        return lines;
    }
    std::istringstream in(guide.substr(guide.find('\n', at) + 1));
    std::string line;
    while (std::getline(in, line) && !line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

// The fenced block under the marker, its text as the parser gets it.
std::wstring ExampleAfter(const std::string& guide, const std::string& marker) {
    std::string text;
    for (const std::string& line : LinesAfter(guide, marker)) {
        if (line.rfind("```", 0) != 0) {
            text += line + "\n";
        }
    }
    return std::wstring(text.begin(), text.end());  // the example is ASCII
}

std::string Trimmed(const std::string& cell) {
    const size_t first = cell.find_first_not_of(" `");
    return first == std::string::npos ? ""
                                      : cell.substr(first, cell.find_last_not_of(" `") - first + 1);
}

// The table's body rows under the marker, each cell without its blanks and backticks.
std::vector<Row> TableAfter(const std::string& guide, const std::string& marker) {
    std::vector<Row> rows;
    const std::vector<std::string> lines = LinesAfter(guide, marker);
    for (size_t i = 2; i < lines.size(); ++i) {  // after the heading and the separator row
        Row row;
        std::istringstream cells(lines[i].substr(1));
        std::string cell;
        while (std::getline(cells, cell, '|')) {
            row.push_back(Trimmed(cell));
        }
        rows.push_back(row);
    }
    return rows;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

}  // namespace

TEST(PublishingGuide, TheWorkedExampleGivesTheRecordsAndHeadersTheGuideLists) {
    qxtest::ResetProcessGlobals();
    const std::string guide = ReadGuide();
    const std::wstring example = ExampleAfter(guide, "<!-- checked: patch list");
    ASSERT_NE(std::wstring::npos, example.find(L"0.0.0 ")) << "no worked example in the guide";
    ASSERT_TRUE(ParsePatchList(example));
    SortPatchList();

    const std::vector<Row> records = TableAfter(guide, "<!-- checked: records -->");
    ASSERT_EQ(records.size(), g_patchList.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const PatchEntry& entry = g_patchList[i];
        EXPECT_EQ(records[i],
                  (Row{Narrow(entry.version), Narrow(entry.url), std::to_string(entry.number),
                       Narrow(entry.info), Narrow(entry.packageVersion)}))
            << "row " << i + 1 << " of the guide's records";
    }

    std::vector<Row> headers;
    for (const auto& header : g_patchListHeaders) {
        headers.push_back(Row{Narrow(header.first), Narrow(header.second)});
    }
    EXPECT_EQ(TableAfter(guide, "<!-- checked: headers -->"), headers);
    qxtest::ResetProcessGlobals();
}
