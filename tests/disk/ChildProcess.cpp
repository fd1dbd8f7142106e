// The process runner is built once, in tivoran_disk_test_support
// (tests/support/ChildProcess.cpp), which every target of this folder
// links. This file stays only because the zudadmin table tests still list
// it among their sources; it defines nothing.
