from datetime import datetime
from types import TracebackType
from typing import Iterator, NamedTuple, Optional, Union

class ClusterError(Exception):
    code: int
    message: str
    trail: list[str]

class Entry(NamedTuple):
    path: str
    is_directory: bool
    id: int
    mode: int
    owner: int
    group: int
    size: int
    change_time: Optional[datetime]
    modification_time: Optional[datetime]
    creation_time: Optional[datetime]

class Snapshot(NamedTuple):
    id: int
    name: str
    timestamp: Optional[datetime]
    source_file_id: int
    created_by_policy: bool
    expiration: str
    directory_name: str
    in_delete: bool

class SmbShare(NamedTuple):
    id: int
    share_name: str
    fs_path: str
    description: str
    read_only: bool
    allow_guest_access: bool
    access_based_enumeration_enabled: bool
    default_file_create_mode: str
    default_directory_create_mode: str

class NfsExport(NamedTuple):
    id: int
    export_path: str
    fs_path: str
    description: str

class DiffEntry(NamedTuple):
    path: str
    operation: str
    is_directory: bool

class Change(NamedTuple):
    operation: str
    kind: str
    path: str
    is_directory: bool
    attributes: Optional[Entry]

class WalkSummary(NamedTuple):
    entries: int
    directories: int
    pages: int
    bytes: int
    failed: list[str]
    vanished: list[str]
    loops: list[str]
    unfinished: list[str]
    complete: bool
    error: str

class ChangeSummary(NamedTuple):
    changes: int
    creates: int
    deletes: int
    content_modifies: int
    metadata_modifies: int
    other_modifies: int
    without_attributes: int
    difference_pages: int
    listing_pages: int
    complete: bool
    error: str

class Walk:
    def __iter__(self) -> Walk: ...
    def __next__(self) -> list[Entry]: ...
    def stop(self) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> Walk: ...
    def __exit__(self, exc_type: Optional[type[BaseException]],
                 exc: Optional[BaseException], tb: Optional[TracebackType]) -> None: ...
    @property
    def summary(self) -> Optional[WalkSummary]: ...

class ChangeFeed:
    def __iter__(self) -> ChangeFeed: ...
    def __next__(self) -> list[Change]: ...
    def stop(self) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> ChangeFeed: ...
    def __exit__(self, exc_type: Optional[type[BaseException]],
                 exc: Optional[BaseException], tb: Optional[TracebackType]) -> None: ...
    @property
    def summary(self) -> Optional[ChangeSummary]: ...

class Session:
    def __init__(self, url: str, user: Optional[str] = None, password: Optional[str] = None, *,
                 ca_file: Optional[str] = None, insecure: bool = False,
                 first_delay: float = ..., max_delay: float = ..., max_attempts: int = ...,
                 request_budget: float = ..., budget_capacity: float = ...,
                 budget_refill: float = ..., budget_credit: float = ..., rate: float = ...,
                 in_flight: int = ..., burst: float = ...) -> None: ...
    def snapshots(self) -> list[Snapshot]: ...
    def create_snapshot(self, name: str, source_file_id: int,
                        expiration: str = "") -> Snapshot: ...
    def delete_snapshot(self, id: int) -> None: ...
    def snapshot_diff(self, older: int, newer: int) -> Iterator[DiffEntry]: ...
    def smb_shares(self) -> list[SmbShare]: ...
    def nfs_exports(self) -> list[NfsExport]: ...
    def list_directory(self, path: str, snapshot: int = 0) -> Iterator[Entry]: ...
    def attributes(self, path: str) -> Entry: ...
    def walk(self, start: Union[str, list[str]], *, snapshot: int = 0, connections: int = 16,
             max_depth: Optional[int] = None, max_entries: Optional[int] = None) -> Walk: ...
    def changes(self, older: int, newer: int, *, attributes: bool = True,
                connections: int = 16, window: int = 10000) -> ChangeFeed: ...
    def close(self) -> None: ...
    def __enter__(self) -> Session: ...
    def __exit__(self, exc_type: Optional[type[BaseException]],
                 exc: Optional[BaseException], tb: Optional[TracebackType]) -> None: ...

def root_unit(path: str, snapshot: int = 0) -> str: ...
