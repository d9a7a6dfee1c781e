#include "pack/link_target.h"

#include "archive/entry_paths.h"

std::string link_target_escape(const std::string& name, const std::string& target) {
  switch (link_target_escape(name.c_str(), target.data(), target.size())) {
    case LINK_ABSOLUTE: return "its target is absolute";
    case LINK_CLIMBS_OUT: return "its target leads out of the tree";
    case LINK_RECORD_DIRECTORY: return std::string("its target leads into ") + INSTALL_RECORD_DIRECTORY + ", the installer's own";
    default: return "";
  }
}
