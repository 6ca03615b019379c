#pragma once

// The program's name and the two addresses its welcome area links to. The
// addresses are fixed when the program is built; change them here only.
namespace morvane {

inline constexpr char kProgramName[] = "Morvane";
inline constexpr char kContactEmail[] = "support@morvane.example";
inline constexpr char kUpdatePage[] = "https://morvane.example/updates";
inline constexpr char kMakerLine[] = "Written by the Morvane developers";

}  // namespace morvane
