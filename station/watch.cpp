#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "station/glob_match.h"
#include "station/station.h"
#include "transfer/operation.h"

namespace zq::station {

namespace {

using namespace std::chrono_literals;

// How often the ports given are probed for a board, and the ports listed where the system sends
// no plug events.
constexpr std::chrono::milliseconds LookEvery = 1s;
// While boards run, the wait for plug events also wakes this often, so that a station closed
// by a board's end (the count, failures in a row), or a fixture to be looked at again, is seen
// without a plug event.
constexpr int BusyWakeMs = 100;

void pause(StationSeam& seam, int descriptor, int limitMs) {
    if (seam.awaitEvent && descriptor >= 0) {
        seam.awaitEvent(descriptor, limitMs);
    } else {
        seam.platform.sleep(limitMs < 0 ? LookEvery : std::chrono::milliseconds(limitMs));
    }
}

// The ports given, each present while its board answers the probe. A port whose board runs is
// not probed: it stays present until its record is in.
void probePorts(Station& station, const WatchPlan& plan, StationSeam& seam,
                StationObserver& observer) {
    // A port another program holds is said once, with who holds it, not at every probe.
    std::set<std::string> toldHeld;
    while (!station.closed()) {
        std::vector<Fixture> present;
        for (const Fixture& port : plan.ports) {
            if (station.running(port.openName)) {
                present.push_back(port);
                continue;
            }
            const std::unique_ptr<Platform> own =
                seam.platformFor ? seam.platformFor(port) : nullptr;
            OpenFailure opened;
            if (probeBoard(own ? *own : seam.platform, port.openName, &opened)) {
                Fixture found = port;
                found.found = Fixture::Found::AnsweredProbe;
                present.push_back(std::move(found));
            } else if (opened.kind == OpenFailure::Kind::Busy &&
                       toldHeld.insert(port.openName).second) {
                observer.portHeld(port, opened);
            }
        }
        station.present(present);
        station.reap(false);
        if (!station.closed()) {
            seam.platform.sleep(LookEvery);
        }
    }
}

// The USB serial adapters and virtual boards listed, listed again on every plug event.
void watchListedPorts(Station& station, const WatchPlan& plan, StationSeam& seam) {
    // Made before the first listing, so that nothing plugged in between is missed.
    const std::unique_ptr<PortWatcher> watcher = seam.watchPorts ? seam.watchPorts() : nullptr;
    const int events = watcher ? watcher->eventDescriptor() : -1;
    bool relist = true;
    while (!station.closed()) {
        if (relist) {
            std::vector<Fixture> present;
            for (const PortInfo& port :
                 seam.listPorts ? seam.listPorts() : std::vector<PortInfo>{}) {
                if (isWatched(port, plan.match)) {
                    present.push_back({.port = port,
                                       .openName = openName(port),
                                       .found = Fixture::Found::Plugged});
                }
            }
            station.present(present);
        }
        station.reap(false);
        if (station.closed()) {
            break;
        }
        pause(seam, events, station.wantsWake() ? BusyWakeMs : -1);
        // Both asked, so that neither is left for later.
        const bool plugged = watcher == nullptr || watcher->takeEvents();
        relist = station.takeLookAgain() || plugged;
    }
}

}  // namespace

bool isWatched(const PortInfo& port, const std::string& pattern) {
    if (!port.isUsb() && !port.isVirtual()) {
        return false;
    }
    if (pattern.empty()) {
        return true;
    }
    for (const std::string& name :
         {port.systemName, port.devicePath, port.stableName, port.description, vidPidText(port)}) {
        if (!name.empty() && globMatches(pattern, name)) {
            return true;
        }
    }
    return false;
}

void watch(Station& station, const WatchPlan& plan, StationSeam& seam, StationObserver& observer) {
    if (plan.ports.empty()) {
        watchListedPorts(station, plan, seam);
    } else {
        probePorts(station, plan, seam, observer);
    }
    // A signal brings every board in flight to its end.
    station.reap(true);
}

}  // namespace zq::station
