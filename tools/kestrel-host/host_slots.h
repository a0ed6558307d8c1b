// Every method of iZelControlPoint2XPCom by name: its parameters by type,
// the parsing of a call's words into them, the call itself on the main
// thread, and the printing and freeing of what it hands back.
#ifndef KESTREL_HOST_SLOTS_H
#define KESTREL_HOST_SLOTS_H

#include <functional>
#include <string>
#include <vector>

#include "host_tokens.h"
#include "iZelControlPoint2XPCom.h"

namespace host {

// One out value after a call, for callers that use it (the short forms).
struct OutValue {
  std::string name;
  bool is_number = false;
  long long number = 0;
  bool is_null = false;  // an out string or array left null
  std::string text;
  std::vector<std::string> list;
};

struct CallResult {
  bool made = false;  // false: the words were refused, nothing was called
  nsresult rv = NS_OK;
  std::vector<OutValue> outs;
  const OutValue *out(const std::string &name) const;
};

// Finds an observer by name for observer parameters; null when unknown.
using ObserverLookup = std::function<iZelControlPoint2XPComObserver *(const std::string &name)>;

// Calls method with the words in args (after the method name) on component,
// printing the call and its outcome. Refused words (unknown method, wrong
// count, number out of range, bad array) are reported and not called.
CallResult call_slot(iZelControlPoint2XPCom *component, const std::string &method, const std::vector<Token> &args,
                     const ObserverLookup &observers);

// The slot number (1 to 46) of a method name, 0 when there is none.
int slot_number(const std::string &method);
// "Name(params)" of every slot in slot order, for help.
std::vector<std::string> slot_signatures();
std::string result_name(nsresult rv);

}  // namespace host

#endif
