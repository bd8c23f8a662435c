// The payload: ten files carried as resources of type "FILE", written in
// this order. The setup script names entries 1 to 8 by these file names, so
// a name changes here and there together.
#pragma once

#include <array>
#include <string_view>

namespace setup_merlavox {

struct ManifestEntry {
  std::string_view resource_name;  // as asked for; stored in upper case
  std::string_view file_name;
};

inline constexpr std::string_view kResourceType = "FILE";

inline constexpr std::array<ManifestEntry, 10> kPayloadManifest{{
    {"Test1", "Merlavox.ex_"},
    {"Test2", "Merlavox.ch_"},
    {"Test3", "Liesmich.txt"},
    {"Test4", "TrickTip.tx_"},
    {"Test5", "Vertrag.txt"},
    {"Test6", "eztw32.DL_"},
    {"Test7", "Beispiel.dbmvx"},
    {"Test8", "gdiplus.dl_"},
    {"Test9", "Setup.ex_"},
    {"Test10", "Setup.lst"},
}};

}  // namespace setup_merlavox
