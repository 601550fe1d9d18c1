from typing import Final, List, Optional, Union

import dask.bag
import distributed

DEFAULT_MAX_ENTRIES_PER_TASK: Final[int]
TASK_RETRIES: Final[int]

class WalkFailed(Exception):
    @property
    def units(self) -> List[str]: ...

def walk(
    url: str,
    path: str,
    *,
    user: Optional[str] = ...,
    password: Optional[str] = ...,
    snapshot: int = ...,
    client: Optional[distributed.Client] = ...,
    connections: int = ...,
    rate: Optional[float] = ...,
    in_flight: Optional[int] = ...,
    ca_file: Optional[str] = ...,
    max_entries_per_task: int = ...,
    output_dir: Optional[str] = ...,
) -> Union[dask.bag.Bag, List[str]]: ...
