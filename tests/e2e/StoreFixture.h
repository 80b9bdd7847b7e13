#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "download/PackageRepository.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "support/ProgramCopy.h"
#include "support/StoreCause.h"
#include "support/TestSupport.h"

// A copy of Quillbox in a fresh folder: with no paths.ini its store lies
// below that folder, so every test has a store of its own.
class StoreFixture : public ::testing::Test {
protected:
    StoreFixture() {
        Program = testsupport::CopyProgramInto(Folder.Path());
        Store = std::filesystem::canonical(Folder.Path()).string() + "/Ironveil/Ironveil/mofs";
    }

    std::vector<std::string> Environment() const { return {"HOME=" + Folder.Path()}; }

    testsupport::ProgramResult Run(const std::vector<std::string>& arguments, int timeoutSeconds = 120) const {
        return testsupport::RunProgram(Program, arguments, Folder.Path(), Environment(), timeoutSeconds);
    }

    std::string StorePath(const std::string& relative) const { return Store + "/" + relative; }

    // The names of the packages in the index, read with the program's own
    // reader; empty when there is no index.
    std::vector<std::string> InstalledNames() const {
        FlatFilesystem filesystem(Store.c_str());
        DirectoryStructure layout;
        PackageManager manager(filesystem, layout);
        manager.Load();
        std::vector<std::string> names;
        for (int index = 0; index < manager.GetPackageCount(); ++index) {
            names.emplace_back(manager.GetPackage(index)->GetName().Peek());
        }
        return names;
    }

    // The names in the store's content folder that end in ".part".
    std::vector<std::string> PartFiles() const {
        std::vector<std::string> parts;
        for (const std::string& name : testsupport::ListFolder(StorePath("files"))) {
            if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".part") == 0) {
                parts.push_back(name);
            }
        }
        return parts;
    }

    std::string NativeStorePath(const std::string& relative) const {
        return testsupport::NativeSpelling(StorePath(relative));
    }

    testsupport::TempDir Folder;
    std::string Program;
    std::string Store;
};

using testsupport::IndexEntry;
