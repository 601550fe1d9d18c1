"""Client for a scale-out file storage cluster's REST API: snapshots, shares, exports,
directory listings, whole-tree walks and change feeds, over the native library."""

from ._clusterclient import (
    ChangeFeed,
    ChangeSummary,
    Change,
    ClusterError,
    DiffEntry,
    Entry,
    NfsExport,
    Session,
    SmbShare,
    Snapshot,
    Walk,
    WalkSummary,
    root_unit,
)

__all__ = [
    "Change",
    "ChangeFeed",
    "ChangeSummary",
    "ClusterError",
    "DiffEntry",
    "Entry",
    "NfsExport",
    "Session",
    "SmbShare",
    "Snapshot",
    "Walk",
    "WalkSummary",
    "root_unit",
]
