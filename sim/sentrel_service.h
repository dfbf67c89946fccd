// The maker's scanning service on the simulated workstation, as far as the
// next boot is concerned: it carries out the rename request file.
#ifndef KURRELFIX_SIM_SENTREL_SERVICE_H
#define KURRELFIX_SIM_SENTREL_SERVICE_H

#include "sim/workstation.h"

namespace sim {

// The service's name in the service table.
extern const char* const SentrelServiceName;

// What the service does when it starts at boot: reads "VTSL.REN" in the
// install directory with a reader of its own and the file's validity rules, renames
// each existing path to its new path (replacing a file of that name), and
// removes the file once it has been carried out. An invalid file changes
// nothing. The service starts at boot when the machine is NT and the service
// is installed (present in ws.services), whatever its state before the boot.
void RunSentrelServiceAtBoot(Workstation& ws);

// Deletes a file the way a boot does: once the processes of before the boot
// are gone. An empty folder goes too; a read-only file stays, as Wine's boot
// leaves it. True when the path is gone afterwards.
bool DeleteAtBoot(Workstation& ws, const std::string& path);

}  // namespace sim

#endif
