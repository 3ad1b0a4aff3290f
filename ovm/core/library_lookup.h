#pragma once

#include <string>
#include <vector>

namespace ovm {

// Where module libraries come from. A library is code: loading it runs it. So ovm loads
// one only from a place the user chose: a file given with --library, or a folder listed
// in the OVM_PATH variable (colon-separated, searched in order), or the folder of the
// library ovm ships with. A patch names a library; it does not bring one: a library beside
// a patch is not looked at unless its folder is one of those.

// OVM_PATH's folders, then this program's own folder and, when installed, bundledLibraryFolder().
std::vector<std::string> libraryFolders();

// The folder of the library ovm ships with: the installation's module folder (lib/dynamics
// beside the bin folder ovm is installed in) when it exists, else ovm's own folder, where
// a build puts ovm and Dynamics.ovm together.
std::string bundledLibraryFolder();

// The library file a patch names, given as `name` at `where` (file:line). A plain file
// name is searched in libraryFolders(). A path (absolute, or relative to the patch's
// folder as patches have always written it) is used only when the file lies in one of
// those folders. Throws ovm::Error (library class) saying where it looked.
std::string resolveLibraryPath(const std::string& name, const std::string& patchPath,
                               const std::string& where);

// The folder this program's executable is in.
std::string programFolder();

}  // namespace ovm
