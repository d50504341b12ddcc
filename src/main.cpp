// qvutil's entry: start-up gets the table of the windows its keyword may name (QBU, RAC, FRD, URD).
#include <memory>

#include "backup/frmQuorDBBkUp.h"
#include "readdates/frmFixDupRdgs.h"
#include "restore/frmRestAutoCopy.h"
#include "startup/startup.h"
#include "undo/frmUndoFixRdgs.h"

int main(int argc, char **argv) {
    return startup::Main(argc, argv,
                         {
                             {"QBU", [] { return std::make_unique<backup::frmQuorDBBkUp>(); }, backup::RunUnattended},
                             {"RAC", [] { return std::make_unique<restore::frmRestAutoCopy>(); }},
                             {"FRD", [] { return std::make_unique<readdates::frmFixDupRdgs>(); }},
                             {"URD", [] { return std::make_unique<undo::frmUndoFixRdgs>(); }},
                         });
}
