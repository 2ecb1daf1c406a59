#pragma once
// TaskRoll on one screen: each file, what it is for, and what the others call
// of it. The rules that decide from bytes or facts a user controls live in
// core/ (no Windows header): the shell below gathers the facts and hands them on.
//
//   main.cpp          the run: reads the command line (core/cmdline), acts on it, lists, exits
//   listing.cpp       GetProcessesData: one record per process or listed path, to processes.dat
//   imagepath.cpp     FindExecutablePath, GetAnsiModulePath: a process's executable as the kernel records it
//   output.cpp        BeginOutput, FinishOutput: processes.dat replaced whole by a new file (core/outputfile decides)
//   versioninfo.cpp   AskModuleFile, GetVersionInfo: the strings a record takes from the worker's answer
//   versionreader.cpp DescribeModuleFile, ExpectModuleFile: TaskRoll's side of the worker (core/readerprotocol)
//   boundedchild.cpp  StartWorker: the worker's restricted token, job and pipe
//   readerworker.cpp  RunVersionReader: the worker's side, which opens every file a record describes
//   identitycache.cpp SketchOf, FactsOf, DescribedFiles: a file's identity, and the files the worker described
//   pinning.cpp       PinFile: a file and its folders held while the system reads it by its path
//   languagefiles.cpp CheckFile, CheckLanguageFiles: the check (core/peresource) and a module's language files
//   systemread.cpp    ReadLocatedResource, AskSystem: the version read, on the checked handle or by the system
//   stringchoice.cpp  ChooseStrings: the strings a record takes (core/versiontree), in the ANSI code page
//   javacmd.cpp       GetJavaCommandLine: the lookup order for a JVM's perf-data file (core/ownerplaces plans it)
//   javaworker.cpp    AnswerJavaLookup: the worker's search of the perf-data files (core/javalookup carries it)
//   perffile.cpp      ReadPerfDataFile: one perf-data file opened, judged (core/perfdata decides) and read
//   ownerfacts.cpp    GetOwnerSid, GetOwnerFacts: a process's owner: token, SID, account, registry, profile
//   namelist.cpp      GetTaskRollFromFile, GetNameCount, GetName: the /file: list
//   privilege.cpp     SetPrivileges: /setpriv
//   debuglog.cpp      InitLogFile, LogMessage, LogTrace, FreeLogFile: the debug log
//   files.cpp         CheckFileKind: a device or a pipe told from a file before anything reads it
//   text.cpp          AnsiLeadBytes, ToAnsiLossless, MessagePath: what the ANSI code page holds
//   settings.cpp      g_settings: the run-wide settings, set once by main.cpp
//
// Test-only calls are in internal.h; handle owners in common/handles.h.
#include "debuglog.h"
#include "files.h"
#include "imagepath.h"
#include "javacmd.h"
#include "listing.h"
#include "namelist.h"
#include "output.h"
#include "ownerfacts.h"
#include "perffile.h"
#include "privilege.h"
#include "settings.h"
#include "text.h"
#include "versioninfo.h"
#include "versionreader.h"
