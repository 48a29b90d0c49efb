# The compiled part of kcenter (kcenter_module.cpp); import kcenter instead.
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

version: Tuple[int, int]

def order(X: np.ndarray, k: Optional[int], radius: Optional[float], start: npt.NDArray[np.int64],
          threads: int) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64], str]: ...
def order_batch_array(points: np.ndarray, lengths: Optional[npt.NDArray[np.int64]], k: list[int],
                      radius: Optional[float], start: npt.NDArray[np.int64], threads: int
                      ) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64], npt.NDArray[np.int64],
                                 Tuple[str, ...]]: ...
def order_batch_list(arrays: list[np.ndarray], k: list[int], radius: Optional[float],
                     start: npt.NDArray[np.int64], threads: int
                     ) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64], npt.NDArray[np.int64],
                                Tuple[str, ...]]: ...
def pair(X: np.ndarray, threads: int) -> Optional[Tuple[int, int, float]]: ...
def assign(X: np.ndarray, centres: npt.NDArray[np.int64], threads: int
           ) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]: ...
def _view(X: np.ndarray) -> Tuple[int, int, int, int, int, str]: ...
