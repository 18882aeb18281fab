(function () {
  const table = document.getElementById("fleet");
  const heads = table.rows[0].cells;
  let column = -1, up = true;
  for (let i = 0; i < heads.length; i++) {
    heads[i].addEventListener("click", () => {
      up = column === i ? !up : true;
      column = i;
      const rows = Array.from(table.rows).slice(1);
      const key = r => r.cells[i].dataset.sort;
      rows.sort((a, b) => {
        const x = key(a), y = key(b), nx = Number(x), ny = Number(y);
        const order = x !== "" && y !== "" && !isNaN(nx) && !isNaN(ny) ? nx - ny : x.localeCompare(y);
        return up ? order : -order;
      });
      for (const r of rows) table.tBodies[0].appendChild(r);
      for (let j = 0; j < heads.length; j++) heads[j].removeAttribute("aria-sort");
      heads[i].setAttribute("aria-sort", up ? "ascending" : "descending");
    });
  }
})();
