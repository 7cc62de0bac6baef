// Runs a program with arguments and captures its exit code, stdout and stderr.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct RunResult {
  int exitCode = -1;  // -1 when the program did not exit normally (for example a crash)
  std::string out;
  std::string err;
};

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `program` with `args` in `workDir` (the current folder when empty); stdout and
// stderr go to files in `captureDir`, so output of any size is captured whole.
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::string& captureDir, const std::string& workDir = "") {
  const std::string outPath = captureDir + "/.stdout";
  const std::string errPath = captureDir + "/.stderr";
  RunResult result;
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0) {
      _exit(127);
    }
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
      _exit(127);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.out = readWholeFile(outPath);
  result.err = readWholeFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

// The program under test, built beside the tests.
inline RunResult runTonbrix(const std::vector<std::string>& args, const std::string& captureDir,
                            const std::string& workDir = "") {
  return runProgram(TONBRIX_BINARY, args, captureDir, workDir);
}

inline const std::string kBanner =
    "Tonbrix 1.0.0 - PMD 85 and Mato tape image to WAV converter\n\n";
