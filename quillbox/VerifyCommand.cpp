#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "download/RepositoryManifest.h"
#include "foundation/StringClass.h"
#include "package/ContentFileCheck.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "package/RepositoryTrust.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

namespace {

// One content file as the store's packages list it: read once, however many
// packages share it.
struct ListedContent {
    std::string path;
    PackageFileInfo info;
    // Every size the listings give; the file is whole at any of them.
    std::vector<int32_t> sizes;
    // The packages that list it, in the order they were met (a package both
    // installed and in a package-info file may come twice).
    std::vector<std::string> packages;
    // The last visit of a package that listed it, so that a package listing
    // it twice names it once, in constant time however many share it.
    size_t lastVisit = 0;
};

// Package names are compared without regard to ASCII letter case.
std::string FoldedName(const char* text) {
    std::string folded(text);
    for (char& character : folded) {
        character = AsciiLower(character);
    }
    return folded;
}

// The content files of every installed package and every package-info file
// in the store, in the order they are first listed.
class StoreListing {
public:
    bool Add(const Package& package) {
        const std::string name = package.GetName().Peek();
        PackageNames.insert(FoldedName(name.c_str()));
        ++Visits;
        DirectoryStructure& layout = GetDirectoryStructure();
        for (int index = 0; index < package.GetFileCount(); ++index) {
            const PackageFileInfo& info = package.GetFileInfo(index);
            ListedContent& content = Find(layout.GetContentFilePath(info).Peek(), info);
            AddOnce(content.sizes, info.size);
            if (content.lastVisit != Visits) {
                content.lastVisit = Visits;
                content.packages.push_back(name);
            }
        }
        return true;
    }

    std::vector<ListedContent> Contents;
    std::unordered_set<std::string> PackageNames;

private:
    template <class T>
    static void AddOnce(std::vector<T>& list, const T& value) {
        for (const T& present : list) {
            if (present == value) {
                return;
            }
        }
        list.push_back(value);
    }

    ListedContent& Find(const std::string& path, const PackageFileInfo& info) {
        const auto [found, added] = IndexOf.try_emplace(path, Contents.size());
        if (added) {
            Contents.push_back({path, info, {}, {}});
        }
        return Contents[found->second];
    }

    std::unordered_map<std::string, size_t> IndexOf;
    size_t Visits = 0;
};

// The names once each, letter case ignored, in the order given.
std::string JoinNames(const std::vector<std::string>& names) {
    std::unordered_set<std::string> named;
    std::string joined;
    for (const std::string& name : names) {
        if (named.insert(FoldedName(name.c_str())).second) {
            joined += joined.empty() ? name : ", " + name;
        }
    }
    return joined;
}

// The SHA-256 that the manifests accepted from trusted repositories list for
// content files: where one does, the store knows what the bytes must be.
class SignedDigests {
public:
    // False when an accepted manifest cannot be read.
    bool Read() {
        std::vector<std::string> texts;
        const bool allRead =
            RepositoryTrust(GetStoreFilesystem(), GetDirectoryStructure()).ReadAllAcceptedManifests(texts);
        for (const std::string& text : texts) {
            RepositoryManifest manifest;
            StringClass problem;
            if (manifest.Read(text.data(), text.size(), problem)) {
                Manifests.push_back(std::move(manifest));
            }
        }
        return allRead;
    }

    // The digest the manifests list for the path; none when none does, or
    // when two disagree (then nothing is known of the bytes).
    const RepositoryManifest::Digest* Find(const std::string& path) const {
        const RepositoryManifest::Digest* found = nullptr;
        for (const RepositoryManifest& manifest : Manifests) {
            const RepositoryManifest::Digest* listed = manifest.Find(path);
            if (listed != nullptr && found != nullptr && *listed != *found) {
                return nullptr;
            }
            found = listed != nullptr ? listed : found;
        }
        return found;
    }

private:
    std::vector<RepositoryManifest> Manifests;
};

// Whole when its bytes have the checksum of its name at a size a listing
// gives, and the signed SHA-256 where one is known. A file that has the
// checksum at another size is whole too, for a listing that disagrees with
// it: it is reported but kept.
enum class Verdict { Whole, Missing, Damaged, Disagrees };

Verdict Judge(const ListedContent& content, const RepositoryManifest::Digest* signedDigest) {
    const ContentFileReport report =
        CheckContentFile(GetStoreFilesystem(), content.path.c_str(), content.info, signedDigest);
    switch (report.state) {
        case ContentFileState::Missing:
            return Verdict::Missing;
        case ContentFileState::Damaged:
        case ContentFileState::OtherBytes:
        case ContentFileState::Unreadable:
            return Verdict::Damaged;
        case ContentFileState::Whole:
        case ContentFileState::OtherSize:
            break;
    }
    for (int32_t size : content.sizes) {
        if (size == report.size) {
            return Verdict::Whole;
        }
    }
    return Verdict::Disagrees;
}

}  // namespace

// Every listed content file is read once and judged by its bytes. A damaged
// one is taken out of its name, so that the next download or conversion of
// its package writes it again instead of sharing it.
int RunVerify() {
    PackageManager& manager = PackageManager::GetInstance();
    StoreListing listing;
    StringClass unreadable;
    const bool allListed =
        manager.VisitStorePackages([&listing](const Package& package) { return listing.Add(package); }, unreadable);
    if (!allListed && !unreadable.IsEmpty()) {
        PrintError("Could not read '%s'.\r\n", unreadable.Peek());
    }
    SignedDigests signedDigests;
    const bool digestsRead = signedDigests.Read();
    if (!digestsRead) {
        PrintError("Could not read a manifest that the store accepted from a trusted repository.\r\n");
    }
    int faults = 0;
    std::vector<std::string> damaged;
    const size_t folderLength = GetDirectoryStructure().GetContentFolder().GetLength() + 1;
    for (const ListedContent& content : listing.Contents) {
        const Verdict verdict = Judge(content, signedDigests.Find(content.path));
        if (verdict == Verdict::Whole) {
            continue;
        }
        ++faults;
        PrintOut(verdict == Verdict::Missing ? "Missing: %s (%s)\r\n" : "Damaged: %s (%s)\r\n", content.path.c_str(),
                 JoinNames(content.packages).c_str());
        if (verdict == Verdict::Damaged) {
            damaged.push_back(content.path.substr(folderLength));
        }
    }
    const bool removed = DurableStore(GetStoreFilesystem(), GetDirectoryStructure()).DeleteContentFiles(damaged);
    if (!removed) {
        PrintError("Could not remove the damaged content files from the store.\r\n");
    }
    const int total = static_cast<int>(listing.Contents.size());
    if (faults == 0) {
        PrintOut("All %d content files of %d packages are whole.\r\n", total,
                 static_cast<int>(listing.PackageNames.size()));
    } else {
        PrintOut("%d of %d content files are damaged or missing. Download their packages again to mend them.\r\n",
                 faults, total);
    }
    return faults == 0 && allListed && digestsRead && removed ? 0 : 1;
}
