// Engine: TABSEngine, the engine's start and shutdown, and the two
// process-wide databases that live from one to the other: "MEMORY" and
// "TEMP" (core/ZUDMemEngine.h).
//
// Contract
//  1. Start creates both databases and installs the expression parser of
//     field defaults (sql/ExprDefaults.h); Shutdown frees both, with every
//     table in them, and removes the parser. Starts are counted: only the
//     Shutdown that matches the first Start frees anything, so a library
//     and the program that uses it may both start the engine. A Shutdown
//     without a Start is a no-op.
//  2. A session reaches MEMORY and TEMP only while the engine is started;
//     otherwise "Database Engine is not initialized" (20007). AttachSession
//     attaches it under the engine's lock, so a shutdown cannot free the
//     database between the lookup and the attach.
//  3. The Shutdown that would free the databases while a session is still
//     connected to one of them is a broken contract (std::logic_error):
//     nothing is freed and the engine stays started.
//  4. TABSEngineScope starts the engine for its lifetime (a program's main,
//     a test); its destructor reports a refused shutdown on the standard
//     error stream instead of throwing.
//
// Thread use: any thread; starts and shutdowns are serialised.
#pragma once

#include "core/ZUDMemEngine.h"

class TABSEngine {
 public:
  static void Start();
  static void Shutdown();
  static bool Started();
  // Contract 2: MEMORY, or TEMP when `temporary`.
  static TABSMemoryDatabaseData& AttachSession(bool temporary, TABSSessionInfo& session);
  // TEMP itself (its memory share); 20007 when not started, valid until
  // the shutdown.
  static TABSTemporaryDatabaseData& TemporaryDatabase();
};

class TABSEngineScope {
 public:
  TABSEngineScope() { TABSEngine::Start(); }
  ~TABSEngineScope();
  TABSEngineScope(const TABSEngineScope&) = delete;
  TABSEngineScope& operator=(const TABSEngineScope&) = delete;
};
