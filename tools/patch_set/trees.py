"""A client's Documents after a repair held against the publisher's tree of the newest release:
files lost, files that are not in the release (a deleted file brought back, or one that never
belonged), and files whose content is not the release's."""

from patch_set.archives import PATCH_FOLDERS

SHOWN = 10  # paths listed per kind; the rest are counted


def in_patch_folder(path):
    return path.split("/", 1)[0] in PATCH_FOLDERS


class Difference:
    def __init__(self, release, before, after):
        """release, before and after: {path: bytes}; before is the client's Documents before the
        repair, whose own files outside the patch folders are the player's, not the patch's."""
        players = {p for p, data in before.items()
                   if not in_patch_folder(p) and after.get(p) == data}
        self.lost = sorted(set(release) - set(after))
        self.resurrected = sorted(set(after) - set(release) - players)
        self.different = sorted(p for p in set(release) & set(after) if release[p] != after[p])

    def __bool__(self):
        return bool(self.lost or self.resurrected or self.different)

    def lines(self):
        """The report: one line per kind that is not empty."""
        for kind, paths in (("lost", self.lost), ("resurrected", self.resurrected),
                            ("not the release's content", self.different)):
            if paths:
                more = " and %d more" % (len(paths) - SHOWN) if len(paths) > SHOWN else ""
                yield "%s %d: %s%s" % (kind, len(paths), ", ".join(paths[:SHOWN]), more)
