"""The temporary folder of a run: made fresh, some of its files copied to the artifacts
folder at the end, then removed unless asked to keep it."""
import os
import shutil
import tempfile


class WorkFolder:
    def __init__(self, prefix, artifacts=None, keep_files=(), keep=False):
        self.prefix = prefix
        self.artifacts = artifacts
        self.keep_files = keep_files
        self.keep = keep
        self.path = None

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix=self.prefix)
        return self.path

    def __exit__(self, *_):
        if self.artifacts:
            for name in self.keep_files:
                source = os.path.join(self.path, name)
                if os.path.exists(source):
                    shutil.copy(source, os.path.join(self.artifacts, name))
        if self.keep:
            print("temporary folder kept: %s" % self.path, flush=True)
        else:
            shutil.rmtree(self.path, ignore_errors=True)
        return False


def fresh_folder(path):
    """An empty folder at path, whatever was there before."""
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
