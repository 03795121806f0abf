// One process of the concurrent claim test: waits for "go" on stdin, claims its backup folder,
// backs up the file named on the command line and prints the folder and the copy; then removes
// its folder when told "remove".
#include "undo/backup.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    // Seeded as the program seeds itself: processes started in one second draw the same names.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::string line;
    if (!std::getline(std::cin, line) || line != "go")
        return 3;
    QList<BackupEntry> entries;
    const BackupEntry entry = BackupFile(entries, QString::fromLocal8Bit(argv[1]));
    std::printf("%s\t%s\n", qPrintable(GetBackupFolder()), qPrintable(entry.backupPath));
    std::fflush(stdout);
    if (!std::getline(std::cin, line) || line != "remove")
        return 4;
    RemoveBackupFolder();
    std::printf("removed\n");
    return 0;
}
