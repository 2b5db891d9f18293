// A table of any length that draws only the rows in sight (and a margin
// around them): ten thousand players cost the page what forty do. Rows have
// one height, so where a row lies is arithmetic, not layout.
const MARGIN = 60;  // rows drawn beyond each edge of the view
const SLACK = 20;   // the view may move this far into the margin before a redraw

export class WindowedTable {
  // `box` scrolls; `head` is the table's header row as HTML; `row(item)`
  // is a row as HTML.
  constructor(box, { id, head, row, rowHeight, columns }) {
    this.box = box;
    this.row = row;
    this.rowHeight = rowHeight;
    this.rows = [];
    this.from = 0;
    this.to = 0;
    box.innerHTML = `<table id="${id}" class="windowed"><colgroup>${columns}</colgroup><thead>${head}</thead>
      <tbody><tr class="spacer" aria-hidden="true"><td></td></tr><tr class="spacer" aria-hidden="true"><td></td></tr></tbody></table>`;
    this.table = box.firstElementChild;
    this.body = this.table.tBodies[0];
    // Where the view is, as the browser last said: asking again while the
    // page has changes pending would make it lay the page out at once.
    this.top = box.scrollTop;
    this.height = box.clientHeight;
    let queued = false;
    box.addEventListener('scroll', () => {
      this.top = box.scrollTop;
      if (queued) return;
      queued = true;
      requestAnimationFrame(() => { queued = false; if (!this.covered()) this.draw(); });
    }, { passive: true });
    new ResizeObserver(() => {
      this.height = box.clientHeight;
      if (!this.covered()) this.draw();
    }).observe(box);
  }

  // The rows in sight lie within what is drawn, with some slack.
  covered() {
    const [first, last] = this.inSight();
    return (first >= this.from + SLACK || this.from === 0) && (last <= this.to - SLACK || this.to === this.rows.length);
  }

  inSight() {
    const first = Math.floor(this.top / this.rowHeight);
    return [first, first + Math.ceil((this.height || 600) / this.rowHeight) + 1];
  }

  // New rows, or the same ones changed: the window is drawn again.
  set(rows) {
    this.rows = rows;
    this.draw();
  }

  draw() {
    const [first, last] = this.inSight();
    this.from = Math.max(0, first - MARGIN);
    this.to = Math.min(this.rows.length, last + MARGIN);
    let html = '<tr class="spacer" aria-hidden="true"><td></td></tr>';
    for (let i = this.from; i < this.to; i += 1) html += this.row(this.rows[i]);
    html += '<tr class="spacer" aria-hidden="true"><td></td></tr>';
    this.body.innerHTML = html;
    // Through the style object: the page's policy refuses style attributes.
    this.body.firstElementChild.firstElementChild.style.height = `${this.from * this.rowHeight}px`;
    this.body.lastElementChild.firstElementChild.style.height = `${(this.rows.length - this.to) * this.rowHeight}px`;
    // The height the browser gave a row is the one the arithmetic uses
    // (asked once: asking makes the browser lay the page out at once).
    if (!this.measured && this.to > this.from) {
      this.measured = true;
      const drawn = this.body.children[1].getBoundingClientRect().height;
      if (drawn && Math.abs(drawn - this.rowHeight) > 0.5) {
        this.rowHeight = drawn;
        this.draw();
      }
    }
  }

  // Rows whose item changed, redrawn where they are in sight: nothing else moves.
  refresh(changed, idOf) {
    for (const tr of [...this.body.children]) {
      const id = tr.dataset.id;
      if (id === undefined || !changed.has(id)) continue;
      const item = idOf(id);
      if (item) tr.outerHTML = this.row(item);
    }
  }

  // Brings the row of `index` into sight.
  reveal(index) {
    const top = index * this.rowHeight;
    const head = this.table.tHead.offsetHeight;
    if (top < this.box.scrollTop) this.box.scrollTop = top;
    else if (top + this.rowHeight + head > this.box.scrollTop + this.box.clientHeight)
      this.box.scrollTop = top + this.rowHeight + head - this.box.clientHeight;
    this.top = this.box.scrollTop;
    if (!this.covered()) this.draw();
  }
}
