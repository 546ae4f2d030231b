#pragma once

namespace zq::qt {

// `firmware-updater --station ...`: the "Firmware Station" window, to its end; the process's
// exit status.
int stationMain(int argc, char** argv);

// Whether the command line asks for the station window.
bool asksForStation(int argc, char** argv);

}  // namespace zq::qt
