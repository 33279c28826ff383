// The checks an import makes on what an archive put into its staging
// directory, and the plan by which the staged members then enter the
// repository. Nothing here writes to the repository except PlaceStaged.
#pragma once

#include <string>
#include <vector>

namespace ovrin {

class tRepositoryTransport;
class tImportJournal;

struct StagedFile {
  std::string staged;  // local path in the staging directory
  std::string target;  // path in the storage
};

struct PlacementPlan {
  std::vector<std::string> dirs;        // to create, parents first
  std::vector<StagedFile> files;        // content and sidecar items
  std::vector<StagedFile> descriptors;  // placed last, deepest first, the top one last of all
  std::vector<std::string> kept;        // present already with the same bytes: imported as they are
};

// Every member that landed in `tree`, relative to it, sorted; directories end
// with '/'. Refuses (RepositoryException status 2) anything that is neither a
// regular file nor a directory, and clears set-user-id and set-group-id bits.
std::vector<std::string> ListStagedMembers(const std::string& tree);
// Removes every status item of every sidecar directory in `tree` (and from
// `members`): a verdict is made by validation, never taken from an archive.
void DropStagedVerdicts(const std::string& tree, std::vector<std::string>& members);
// The sidecars of an archive whose top-level descriptor is `descriptor`: a
// ".discovered" directory holds only sidecar directories of descriptors beside
// it (at the top exactly the descriptor's own), each holding only empty files
// of the known item kinds, one of each kind. Anything else is refused with
// RepositoryException status 2.
void CheckStagedSidecars(const std::string& tree, const std::vector<std::string>& members,
                         const std::string& descriptor);
// Plans the entry of the staged `members` into `targetDir` of `storage`. A
// member that exists there with the same bytes is kept as it is. One that
// exists otherwise, or would add an item to an existing sidecar directory,
// refuses the import with RepositoryException status 3 naming the path;
// nothing has been written then.
PlacementPlan PlanPlacement(tRepositoryTransport& storage, const std::string& tree,
                            const std::vector<std::string>& members, const std::string& targetDir);
// Creates the planned directories and places the files, descriptors last.
// With a journal, everything is recorded in it and the journal stored before
// the first change. A file that appeared meanwhile refuses the rest with
// RepositoryException status 3.
void PlaceStaged(tRepositoryTransport& storage, const PlacementPlan& plan, tImportJournal* journal);

}  // namespace ovrin
