// Loading a component library as a host does: dlopen, the module
// description (NSModule), the older protocol (NSGetModule, registration with
// the registrar, creation by contract ID), or the class's constructor
// straight from the description; and taking over the library's exit.
#ifndef KESTREL_HOST_LOAD_H
#define KESTREL_HOST_LOAD_H

#include <string>

#include "iZelControlPoint2XPCom.h"
#include "xpcom_module.h"

namespace host {

struct Library {
  std::string path;
  void *handle = nullptr;
  const xpcom::Module *module = nullptr;  // NSModule's description, if exported
  nsGetModuleProc get_module = nullptr;   // NSGetModule, if exported
  bool registered = false;                // NSGetModule's module registered itself
};

// Opens the library and looks its entry points up; registers the host's
// exit function when the library exports register_upnp_exit_function.
// False with the reason (not loadable, no entry point, another module
// version) in why.
bool open_library(const std::string &path, Library &lib, std::string &why);
// Prints the description: module version, class ID, contract ID(s).
void describe_module(const Library &lib);

// Creates one instance. by_constructor: through the description's class
// entry and its constructor; otherwise NSGetModule, RegisterSelf (once) and
// the component manager by contract ID.
nsresult create_instance(Library &lib, bool by_constructor, iZelControlPoint2XPCom **result, std::string &why);

// How often the library called the host's exit function, and the last status.
int exit_calls();
int last_exit_status();

}  // namespace host

#endif
