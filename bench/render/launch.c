/* launch: runs a command from its start to its exit and writes what it cost to file descriptor
 * 3, as one line: "user_us system_us peak_kib exit_status" (exit_status -1 when it did not exit
 * normally). Standard input, output and error are the command's.
 *
 * The render-speed programs start their renders through this small program rather than
 * themselves: a process started by another (fork, or posix_spawn's shared memory until exec)
 * counts the starter's peak memory as its own starting point, and this starter's is a fraction of
 * any render's. Written in C, so that it is as small as a program can be.
 *
 * Usage: launch PROGRAM [ARGUMENTS...]   (with descriptor 3 open for writing) */
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, 3); /* the report is not the command's */
    pid_t child = 0;
    const int failed = posix_spawn(&child, argv[1], &actions, NULL, argv + 1, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return 127;
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) return 127;
    dprintf(3, "%lld %lld %ld %d\n", (long long)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec,
            (long long)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec, usage.ru_maxrss,
            WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}
