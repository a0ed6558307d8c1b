// What the host prints: one line per load step, call, result and event, as
// plain text or (--json) as one JSON object per line. Every line is written
// whole under one lock, from whichever thread reports.
#ifndef KESTREL_HOST_OUTPUT_H
#define KESTREL_HOST_OUTPUT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace host {

// A JSON string literal of any bytes, without loss: valid UTF-8 stays as it
// is (quote, backslash and control characters escaped), and each byte that
// is not part of a valid UTF-8 sequence is written as the escape \udcXX, XX
// its value (a lone low surrogate, which no valid UTF-8 text can hold).
std::string json_string(const std::string &bytes);
// A readable quoted form for text output: printable ASCII and valid UTF-8 as
// they are, control characters and invalid bytes as \xXX, quote and
// backslash escaped.
std::string quoted(const std::string &bytes);

// One output record: a kind and named fields, kept in order.
class Record {
 public:
  explicit Record(const char *kind);
  Record &str(const char *name, const std::string &value);
  Record &num(const char *name, int64_t value);
  Record &boolean(const char *name, bool value);
  // A value already in JSON form (an array or object built by the caller).
  Record &raw(const char *name, const std::string &json, const std::string &text);
  const std::string &kind() const { return kind_; }

  std::string to_json(double time) const;
  std::string to_text() const;

 private:
  struct Field {
    std::string name;
    std::string json;
    std::string text;
  };
  std::string kind_;
  std::vector<Field> fields_;
};

void set_json(bool on);
bool json_mode();
// Record kinds that emit leaves out in text output (the terminal mode shows
// calls and events in its own words); JSON output keeps every record.
void set_hidden_kinds(const std::vector<std::string> &kinds);
// Seconds since the host started.
double elapsed();
// Writes the record to standard output (errors as well: one stream keeps the
// order of a run).
void emit(const Record &record);
// A message of the host itself (kind "info" or "error").
void say(const char *kind, const std::string &message);

}  // namespace host

#endif
