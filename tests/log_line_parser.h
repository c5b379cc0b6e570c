// Reads back the lines of the "$errors" log, for the tests: which of its
// line formats a line has, so a suite can check that every line it meets is
// one the program documents.
#pragma once

#include <string>
#include <vector>

// Which format a line has ("chdir", "mkdir", "createfile", "write",
// "content", "names", "names-failed", "nodes", "nodes-failed", "depth"), or
// "" if none. A line that ends in a failure's words must end in one of texts
// when they are given; without them any words without a control byte do.
std::string classify_log_line(const std::string& line, const std::vector<std::string>* texts = nullptr);
