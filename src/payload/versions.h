// The versions of a product side by side. Each start holds its own
// version's in-use file (KAY_IN_USE_NAME) with a shared lock while its child
// runs, and touches it: its modification time is when the version was last
// used. Once the child runs, the start removes the product's versions
// beside its own target folder that are not among the most recently used.
#pragma once

#include "format/launch_data.h"
#include "platform/platform.h"

namespace kay_versions {

// The in-use file of `target_dir`, made when missing, held with a shared
// lock and touched; an invalid handle when it cannot be had. Taken before
// the target's lock is released, so that no cleanup finds the version
// unused while its child starts.
kay_file hold(const kchar* target_dir);

// Removes the folders beside `target_dir`, of the user (no link), that hold
// a state record of `data`'s company and product and are not among the
// data.keep_versions most recently used, this one counted (whose in-use
// file `in_use` holds; nothing is removed without it). Each is taken with
// its lock and its in-use file exclusively, without waiting, or left as it
// is; then only the files its record lists whose status is still the one
// recorded are removed, and the folders left empty; its in-use file, lock
// and record (last) go only when every such file went, so that a cleanup
// cut short is finished by a later one. Says nothing.
void remove_old(const kchar* target_dir, const kay_launch_data& data, kay_file in_use);

}  // namespace kay_versions
