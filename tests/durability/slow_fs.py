#!/usr/bin/python3
"""A slow disk for tests: a FUSE file system that passes every operation
through to a backing folder, taking its time as a slow disk would. Writes
go at most RATE bytes per second; each flush of a file and each rename
waits LATENCY seconds first. Requests are served one at a time, as by one
disk arm. A folder's flush is not served (the Python binding fails on it),
which the kernel takes as nothing to flush.

    slow_fs.py BACKING MOUNTPOINT [--rate BYTES_PER_SECOND] [--latency SECONDS]

Stays in the foreground until the file system is unmounted. Debian
python3-fuse (libfuse 2); root only, since it mounts."""

import argparse
import errno
import os
import sys
import time

import fuse

fuse.fuse_python_api = (0, 2)


class Throttle:
    """Makes callers wait so that the bytes paid for go at most `rate` per second."""

    def __init__(self, rate):
        self.rate = float(rate)
        self.free_at = time.monotonic()

    def pay(self, count):
        now = time.monotonic()
        self.free_at = max(self.free_at, now) + count / self.rate
        time.sleep(max(0.0, self.free_at - now))


class SlowFs(fuse.Fuse):
    def __init__(self, backing, rate, latency, *args, **kw):
        super().__init__(*args, **kw)
        self.backing = os.path.abspath(backing)
        self.latency = latency
        throttle = Throttle(rate)
        real = self.real

        class SlowFile:
            def __init__(self, path, flags, *mode):
                self.fd = os.open(real(path), flags, *mode)

            def read(self, length, offset):
                return os.pread(self.fd, length, offset)

            def write(self, data, offset):
                throttle.pay(len(data))
                return os.pwrite(self.fd, data, offset)

            def fgetattr(self):
                return os.fstat(self.fd)

            def ftruncate(self, length):
                os.ftruncate(self.fd, length)

            def fsync(self, datasync):
                time.sleep(latency)
                if datasync:
                    os.fdatasync(self.fd)
                else:
                    os.fsync(self.fd)

            def flush(self):
                pass

            def release(self, flags):
                os.close(self.fd)

        self.file_class = SlowFile

    def real(self, path):
        return self.backing + path

    def getattr(self, path):
        return os.lstat(self.real(path))

    def readdir(self, path, offset):
        for name in [".", ".."] + os.listdir(self.real(path)):
            yield fuse.Direntry(name)

    def readlink(self, path):
        return os.readlink(self.real(path))

    def mknod(self, path, mode, dev):
        os.mknod(self.real(path), mode, dev)

    def mkdir(self, path, mode):
        os.mkdir(self.real(path), mode)

    def unlink(self, path):
        os.unlink(self.real(path))

    def rmdir(self, path):
        os.rmdir(self.real(path))

    def symlink(self, target, path):
        os.symlink(target, self.real(path))

    def link(self, path, new_path):
        os.link(self.real(path), self.real(new_path))

    def rename(self, path, new_path):
        time.sleep(self.latency)
        os.rename(self.real(path), self.real(new_path))

    def chmod(self, path, mode):
        os.chmod(self.real(path), mode)

    def chown(self, path, user, group):
        os.chown(self.real(path), user, group)

    def truncate(self, path, length):
        os.truncate(self.real(path), length)

    def utimens(self, path, accessed, modified):
        os.utime(self.real(path),
                 ns=(accessed.tv_sec * 10**9 + accessed.tv_nsec,
                     modified.tv_sec * 10**9 + modified.tv_nsec))

    def access(self, path, mode):
        if not os.access(self.real(path), mode):
            return -errno.EACCES
        return 0

    def statfs(self):
        return os.statvfs(self.backing)


def main():
    options = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    options.add_argument("backing")
    options.add_argument("mountpoint")
    options.add_argument("--rate", type=int, default=10 * 1000 * 1000)
    options.add_argument("--latency", type=float, default=0.2)
    chosen = options.parse_args()
    server = SlowFs(chosen.backing, chosen.rate, chosen.latency)
    server.multithreaded = False
    # Writes come in pieces of up to 128 KiB, not page by page.
    server.parse(args=[chosen.mountpoint, "-f", "-o", "big_writes,max_write=131072,fsname=slow_fs"],
                 errex=1)
    server.main()


if __name__ == "__main__":
    sys.exit(main())
