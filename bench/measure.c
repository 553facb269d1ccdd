/* Runs one command and prints "WALL CPU KIB": its wall time and the
 * processor time it used (user plus system), in seconds, and its peak
 * resident memory. On a shared machine the wall time includes waiting for a
 * core; the processor time does not. A small C parent keeps the inherited part of the peak
 * (Linux counts the memory of the process that forked until the exec) to
 * about a megabyte. The command's standard output is discarded; its exit
 * status is passed on. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) return 2;
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
  printf("%.3f %.3f %ld\n", (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9, cpu,
         usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
