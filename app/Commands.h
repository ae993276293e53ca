// The orx commands; each takes the arguments after its name and returns the
// process exit status.
#pragma once

namespace orxapp {

int CmdEncode(int argc, char** argv);
int CmdDecode(int argc, char** argv);
int CmdCut(int argc, char** argv);
int CmdJoin(int argc, char** argv);
int CmdInfo(int argc, char** argv);
int CmdSettings(int argc, char** argv);
int CmdDemo(int argc, char** argv);
int CmdBench(int argc, char** argv);

}  // namespace orxapp
