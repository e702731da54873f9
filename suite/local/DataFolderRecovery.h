#pragma once

// What a crash or power cut left of a replacement in the data folder, resolved once the tool may start.
namespace zr::suite {

// Resolves interrupted replacements of the templates in the data folder
// ("Common" / "DataPath"), with the restore history as their journal. Runs
// once the start gate has let the tool start, under its run lock, so never
// beside a suite module. A failure is noted in the error log and met again by
// the next replacement there; it never keeps the tool from starting.
void RecoverDataFolder() noexcept;

// Sends what recovery leaves alone, and why, to the suite's error log.
void InstallRecoveryLog();

// Seals and checks intent records with the user's key, kept in the suite
// home (record.key), so a record of ours is known on any file system.
void InstallRecordKey();

}  // namespace zr::suite
